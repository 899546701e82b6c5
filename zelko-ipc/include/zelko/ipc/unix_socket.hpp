// SPDX-License-Identifier: MIT
#pragma once

// Unix-domain stream sockets: the one place that fills a sockaddr_un.

#include <sys/socket.h>
#include <sys/un.h>

#include <expected>
#include <string>
#include <string_view>
#include <utility>

#include "zelko/ipc/fd.hpp"

namespace zelko_ipc {

inline constexpr std::string_view k_path_too_long = "path must be shorter than SUN_LEN";
inline constexpr std::string_view k_path_has_nul = "paths must not contain interior null bytes";

/// A socket address for a path, with the length to pass along with it:
/// the family, the path and its terminating NUL.
struct UnixAddress {
  sockaddr_un address{};
  socklen_t length = 0;

  [[nodiscard]] const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&address); }
};

/// Builds the address of the socket at `path` (raw bytes). Refuses a path of
/// 108 bytes or more with k_path_too_long and one holding a NUL byte with
/// k_path_has_nul.
[[nodiscard]] std::expected<UnixAddress, std::string_view> unix_address(std::string_view path);

/// A new stream socket and the address of the socket at `path`, for a
/// connect or a bind; fails as unix_address does, or with the system error.
[[nodiscard]] std::expected<std::pair<Fd, UnixAddress>, std::string> unix_stream_socket(
    std::string_view path);

/// Opens a stream connection to the socket at `path` with one blocking
/// connect, not repeated even when a signal interrupts it. On failure,
/// returns the path's own message or the rendered system error.
[[nodiscard]] std::expected<Fd, std::string> connect_unix(std::string_view path);

}  // namespace zelko_ipc
