// SPDX-License-Identifier: MIT
#include "zelko/ipc/io.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "zelko/ipc/os_error.hpp"

namespace zelko_ipc {

namespace {

// Waits until `fd` is ready for `events`, or until `timeout` milliseconds
// (-1: no limit) have passed; false when they passed first. An error or a
// hang-up counts as ready: it is for the next call to report.
bool wait_ready(int fd, short events, int timeout) {
  pollfd waiting{fd, events, 0};
  int ready = 0;
  while ((ready = ::poll(&waiting, 1, timeout)) < 0 && errno == EINTR) {
  }
  return ready != 0;
}

// How long until `deadline`, in whole milliseconds (at least 0).
int milliseconds_until(Deadline deadline) {
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

// Fills `size` bytes at `buffer` from `fd`; when `Timed`, only until
// `deadline`.
template <bool Timed>
std::expected<void, std::string> receive(int fd, void* buffer, std::size_t size,
                                         Deadline deadline) {
  auto* at = static_cast<char*>(buffer);
  while (size > 0) {
    if constexpr (Timed) {
      const int left = milliseconds_until(deadline);
      if (left == 0 || !wait_ready(fd, POLLIN, left)) {
        return std::unexpected(std::string(k_timed_out));
      }
    }
    const ssize_t received = ::recv(fd, at, size, 0);
    if (received < 0) {
      if (errno == EINTR) {
        continue;
      }
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        if constexpr (!Timed) {
          wait_ready(fd, POLLIN, -1);
        }
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

}  // namespace

std::expected<void, WriteError> write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        wait_ready(fd, POLLOUT, -1);
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

std::expected<void, std::string> recv_exact(int fd, void* buffer, std::size_t size) {
  return receive<false>(fd, buffer, size, {});
}

std::expected<void, std::string> recv_exact(int fd, void* buffer, std::size_t size,
                                            Deadline deadline) {
  return receive<true>(fd, buffer, size, deadline);
}

}  // namespace zelko_ipc
