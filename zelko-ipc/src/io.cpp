// SPDX-License-Identifier: MIT
#include "zelko/ipc/io.hpp"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "zelko/ipc/os_error.hpp"

namespace zelko_ipc {

std::expected<void, WriteError> write_all(int fd, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written < 0) {
      const int code = errno;
      return std::unexpected(WriteError{code, describe_os_error(code), done});
    }
    if (written == 0) {
      return std::unexpected(WriteError{0, std::string(k_short_write), done});
    }
    done += static_cast<std::size_t>(written);
  }
  return {};
}

std::expected<void, std::string> recv_exact(int fd, void* buffer, std::size_t size) {
  auto* at = static_cast<char*>(buffer);
  while (size > 0) {
    const ssize_t received = ::recv(fd, at, size, 0);
    if (received < 0 && errno == EINTR) {
      continue;
    }
    if (received < 0) {
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
