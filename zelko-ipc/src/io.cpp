#include "zelko/ipc/io.hpp"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "zelko/ipc/os_error.hpp"

namespace zelko_ipc {

std::expected<void, std::string> write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return std::unexpected(describe_os_error(errno));
    }
    if (written == 0) {
      return std::unexpected(std::string(k_short_write));
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return {};
}

std::expected<void, std::string> recv_exact(int fd, void* buffer, std::size_t size) {
  auto* at = static_cast<char*>(buffer);
  while (size > 0) {
    const ssize_t received = ::recv(fd, at, size, 0);
    if (received < 0) {
      if (errno == EINTR) {
        continue;
      }
      return std::unexpected(describe_os_error(errno));
    }
    if (received == 0) {
      return std::unexpected(std::string(k_short_read));
    }
    at += received;
    size -= static_cast<std::size_t>(received);
  }
  return {};
}

}  // namespace zelko_ipc
