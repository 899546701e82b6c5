// SPDX-License-Identifier: MIT
#pragma once

// The daemon's side of the sockets: listening, and reads and writes with a
// deadline, so that no client can hold up a daemon's thread for longer than
// the daemon allows. For the stand-in daemon and the tests.

#include <chrono>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "zelko/ipc/fd.hpp"
#include "zelko/ipc/frame.hpp"

namespace zelko_ipc::daemon {

inline constexpr std::string_view k_timed_out = "timed out";

/// When a read or a write must be over.
using Deadline = std::chrono::steady_clock::time_point;

/// Creates a stream socket bound to `path` and listening on it.
[[nodiscard]] std::expected<Fd, std::string> listen_unix(std::string_view path, int backlog = 64);

/// Reads one frame from the socket `fd` as zelko_ipc::read_frame does,
/// giving up with k_timed_out once `deadline` has passed.
[[nodiscard]] std::expected<std::string, FrameError> read_frame(int fd, std::uint32_t max_length,
                                                                Deadline deadline);

/// Sends all of `bytes` on the socket `fd`, giving up with k_timed_out once
/// `deadline` has passed.
[[nodiscard]] std::expected<void, std::string> send_all(int fd, std::string_view bytes,
                                                        Deadline deadline);

}  // namespace zelko_ipc::daemon
