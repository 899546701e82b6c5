// SPDX-License-Identifier: MIT
#include "zelko/ipc/daemon_io.hpp"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "zelko/ipc/io.hpp"
#include "zelko/ipc/os_error.hpp"
#include "zelko/ipc/unix_socket.hpp"

namespace zelko_ipc::daemon {

namespace {

// Waits until `fd` is ready for `events` or `deadline` has passed (false).
// An error or a hang-up counts as ready: the next call reports it.
bool ready_by(int fd, short events, Deadline deadline) {
  while (true) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      return false;
    }
    pollfd waiting{fd, events, 0};
    const int ready =
        ::poll(&waiting, 1, static_cast<int>(std::min<long long>(left.count(), 60000)));
    if (ready > 0) {
      return true;
    }
    if (ready < 0 && errno != EINTR) {
      return true;
    }
  }
}

// Fills `size` bytes at `buffer` from `fd` by `deadline`.
std::expected<void, std::string> receive_by(int fd, void* buffer, std::size_t size,
                                            Deadline deadline) {
  auto* at = static_cast<char*>(buffer);
  while (size > 0) {
    if (!ready_by(fd, POLLIN, deadline)) {
      return std::unexpected(std::string(k_timed_out));
    }
    const ssize_t received = ::recv(fd, at, size, MSG_DONTWAIT);
    if (received < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
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

}  // namespace

std::expected<Fd, std::string> listen_unix(std::string_view path, int backlog) {
  Fd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket) {
    return std::unexpected(describe_os_error(errno));
  }
  const auto address = unix_address(path);
  if (!address) {
    return std::unexpected(std::string(address.error()));
  }
  if (::bind(socket.get(), address->get(), address->length) != 0 ||
      ::listen(socket.get(), backlog) != 0) {
    return std::unexpected(describe_os_error(errno));
  }
  return socket;
}

std::expected<std::string, FrameError> read_frame(int fd, std::uint32_t max_length,
                                                  Deadline deadline) {
  unsigned char header[4];
  if (auto read = receive_by(fd, header, sizeof header, deadline); !read) {
    return std::unexpected(FrameError{FrameError::Stage::header, std::move(read.error())});
  }
  const std::uint32_t length = frame_length(header);
  if (length > max_length) {
    return std::unexpected(FrameError{FrameError::Stage::too_long, {}});
  }
  std::string body(length, '\0');
  if (auto read = receive_by(fd, body.data(), length, deadline); !read) {
    return std::unexpected(FrameError{FrameError::Stage::body, std::move(read.error())});
  }
  return body;
}

std::expected<void, std::string> send_all(int fd, std::string_view bytes, Deadline deadline) {
  while (!bytes.empty()) {
    if (!ready_by(fd, POLLOUT, deadline)) {
      return std::unexpected(std::string(k_timed_out));
    }
    const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
      continue;
    }
    if (sent < 0) {
      return std::unexpected(describe_os_error(errno));
    }
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return {};
}

}  // namespace zelko_ipc::daemon
