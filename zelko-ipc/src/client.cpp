#include "zelko/ipc/client.hpp"

#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>

#include "zelko/ipc/fd.hpp"
#include "zelko/ipc/frame.hpp"
#include "zelko/ipc/io.hpp"
#include "zelko/ipc/os_error.hpp"
#include "zelko/ipc/runtime_dir.hpp"
#include "zelko/ipc/utf8.hpp"

namespace zelko_ipc::client {

namespace {

std::string unreachable(std::string_view path, std::string_view error) {
  std::string message = "cannot reach derodi at ";
  message += to_utf8_lossy(path);
  message += ": ";
  message += error;
  message += "\nis the daemon running?";
  return message;
}

std::string concatenated(std::string_view first, std::string_view second) {
  std::string message(first);
  message += second;
  return message;
}

// Opens a stream connection to the Unix socket at `path`, or returns the
// low-level reason it could not.
std::expected<Fd, std::string> connect_to(std::string_view path) {
  Fd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket) {
    return std::unexpected(describe_os_error(errno));
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) {
    return std::unexpected(std::string(k_path_too_long));
  }
  if (path.find('\0') != std::string_view::npos) {
    return std::unexpected(std::string(k_path_has_nul));
  }
  std::memcpy(address.sun_path, path.data(), path.size());
  const auto length = static_cast<socklen_t>(sizeof(address.sun_family) + path.size() + 1);
  // One blocking attempt, not repeated even when a signal interrupts it.
  if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
    return std::unexpected(describe_os_error(errno));
  }
  return socket;
}

}  // namespace

std::expected<ControlResponse, std::string> exchange_on(int fd, const ControlRequest& request) {
  if (auto sent = write_all(fd, make_frame(request.encode())); !sent) {
    return std::unexpected(concatenated("cannot send the request: ", sent.error()));
  }
  unsigned char header[4];
  if (auto read = recv_exact(fd, header, sizeof header); !read) {
    return std::unexpected(concatenated("no answer from derodi: ", read.error()));
  }
  const std::uint32_t length = frame_length(header);
  // Checked before anything is allocated, so no answer costs more than 1 MiB.
  if (length > k_max_answer_length) {
    return std::unexpected(std::string(k_oversized));
  }
  // Every byte of the buffer is filled by the read before anything looks at it.
  std::string body;
  body.resize_and_overwrite(length, [length](char*, std::size_t) { return length; });
  if (auto read = recv_exact(fd, body.data(), body.size()); !read) {
    return std::unexpected(concatenated("truncated answer from derodi: ", read.error()));
  }
  if (!is_valid_utf8(body)) {
    return std::unexpected(std::string(k_not_utf8));
  }
  auto answer = ControlResponse::decode_owned(std::move(body));
  if (!answer) {
    return std::unexpected(std::string(answer.error()));
  }
  return std::move(*answer);
}

std::expected<ControlResponse, std::string> exchange(ControlRequest request) {
  const auto path = runtime_dir::control_socket_path();
  if (!path) {
    return std::unexpected(concatenated(path.error(), ", so the control socket cannot be located"));
  }
  auto socket = connect_to(*path);
  if (!socket) {
    return std::unexpected(unreachable(*path, socket.error()));
  }
  return exchange_on(socket->get(), request);
}

}  // namespace zelko_ipc::client
