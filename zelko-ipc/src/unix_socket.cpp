// SPDX-License-Identifier: MIT
#include "zelko/ipc/unix_socket.hpp"

#include <cerrno>
#include <cstring>

#include "zelko/ipc/os_error.hpp"

namespace zelko_ipc {

std::expected<UnixAddress, std::string_view> unix_address(std::string_view path) {
  UnixAddress unix;
  unix.address.sun_family = AF_UNIX;
  if (path.size() >= sizeof unix.address.sun_path) {
    return std::unexpected(k_path_too_long);
  }
  if (path.find('\0') != std::string_view::npos) {
    return std::unexpected(k_path_has_nul);
  }
  std::memcpy(unix.address.sun_path, path.data(), path.size());
  unix.length = static_cast<socklen_t>(sizeof unix.address.sun_family + path.size() + 1);
  return unix;
}

std::expected<std::pair<Fd, UnixAddress>, std::string> unix_stream_socket(std::string_view path) {
  Fd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket) {
    return std::unexpected(describe_os_error(errno));
  }
  const auto address = unix_address(path);
  if (!address) {
    return std::unexpected(std::string(address.error()));
  }
  return std::pair{std::move(socket), *address};
}

std::expected<Fd, std::string> connect_unix(std::string_view path) {
  auto prepared = unix_stream_socket(path);
  if (!prepared) {
    return std::unexpected(std::move(prepared.error()));
  }
  auto& [socket, address] = *prepared;
  if (::connect(socket.get(), address.get(), address.length) != 0) {
    return std::unexpected(describe_os_error(errno));
  }
  return std::move(socket);
}

}  // namespace zelko_ipc
