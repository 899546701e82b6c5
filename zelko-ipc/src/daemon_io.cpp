// SPDX-License-Identifier: MIT
#include "zelko/ipc/daemon_io.hpp"

#include <poll.h>
#include <sys/ioctl.h>
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
  pollfd waiting{fd, events, 0};
  return wait_until(std::span(&waiting, 1), deadline);
}

// Fills `size` bytes at `buffer` from `fd` by `deadline`: once the socket is
// readable, the client's own read takes what it holds, never waiting (one
// that holds nothing has ended or failed; a read of one byte says which).
std::expected<void, std::string> receive_by(int fd, void* buffer, std::size_t size,
                                            Deadline deadline) {
  auto* at = static_cast<char*>(buffer);
  while (size > 0) {
    if (!ready_by(fd, POLLIN, deadline)) {
      return std::unexpected(std::string(k_timed_out));
    }
    int held = 0;
    if (::ioctl(fd, FIONREAD, &held) != 0 || held < 1) {
      held = 1;
    }
    const std::size_t take = std::min(size, static_cast<std::size_t>(held));
    if (auto read = recv_exact(fd, at, take); !read) {
      return read;
    }
    at += take;
    size -= take;
  }
  return {};
}

}  // namespace

bool wait_until(std::span<pollfd> watched, Deadline deadline) {
  while (true) {
    int timeout = -1;
    if (deadline != k_no_deadline) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      // At most a minute at a time, so that no count of milliseconds overflows.
      timeout = static_cast<int>(std::clamp<long long>(left.count(), 0, 60000));
    }
    const int ready = ::poll(watched.data(), watched.size(), timeout);
    if (ready > 0 || (ready < 0 && errno != EINTR)) {
      return true;
    }
    if (ready == 0 && timeout >= 0 && std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
  }
}

std::expected<Fd, std::string> listen_unix(std::string_view path, int backlog) {
  auto prepared = unix_stream_socket(path);
  if (!prepared) {
    return std::unexpected(std::move(prepared.error()));
  }
  auto& [socket, address] = *prepared;
  if (::bind(socket.get(), address.get(), address.length) != 0 ||
      ::listen(socket.get(), backlog) != 0) {
    return std::unexpected(describe_os_error(errno));
  }
  return std::move(socket);
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
