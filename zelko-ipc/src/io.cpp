#include "zelko/ipc/io.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "zelko/ipc/os_error.hpp"

namespace zelko_ipc {

namespace {

// Waits until `fd` is ready for `events` or, with a deadline, until it
// passes. False when the deadline came first.
bool wait_for(int fd, short events, Deadline deadline) {
  while (true) {
    int timeout = -1;
    if (deadline) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(
          *deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        return false;
      }
      timeout = static_cast<int>(left.count());
    }
    pollfd waiting{fd, events, 0};
    const int ready = ::poll(&waiting, 1, timeout);
    if (ready > 0 || (ready < 0 && errno != EINTR)) {
      // An error or a hang-up is for the next call to report.
      return true;
    }
  }
}

}  // namespace

std::expected<void, WriteError> write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        wait_for(fd, POLLOUT, std::nullopt);
        continue;
      }
      const int code = errno;
      return std::unexpected(WriteError{code, describe_os_error(code)});
    }
    if (written == 0) {
      return std::unexpected(WriteError{0, std::string(k_short_write)});
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return {};
}

std::expected<void, std::string> recv_exact(int fd, void* buffer, std::size_t size,
                                            Deadline deadline) {
  auto* at = static_cast<char*>(buffer);
  while (size > 0) {
    if (deadline && !wait_for(fd, POLLIN, deadline)) {
      return std::unexpected(std::string(k_timed_out));
    }
    const ssize_t received = ::recv(fd, at, size, 0);
    if (received < 0) {
      if (errno == EINTR || (deadline && (errno == EAGAIN || errno == EWOULDBLOCK))) {
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
