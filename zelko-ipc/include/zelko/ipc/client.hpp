// SPDX-License-Identifier: MIT
#pragma once

#include <expected>
#include <string_view>

#include "zelko/ipc/message.hpp"
#include "zelko/ipc/messages.hpp"

namespace zelko_ipc::client {

inline constexpr std::string_view k_oversized = "the daemon sent an oversized answer";

/// Sends `request` to the daemon's control socket and returns its decoded
/// answer. A `ControlResponse::Error` answer is a successful exchange. Every
/// failure on the way (no socket path, no daemon, a broken or malformed
/// answer) comes back as one message. Opens one connection and closes it on
/// every road out; prints nothing.
[[nodiscard]] std::expected<ControlResponse, Message> exchange(ControlRequest request);

/// The part of `exchange` after connecting: writes the request frame to the
/// connected socket `fd`, reads one answer frame and decodes it. Does not
/// close `fd`.
[[nodiscard]] std::expected<ControlResponse, Message> exchange_on(int fd,
                                                                  const ControlRequest& request);

}  // namespace zelko_ipc::client
