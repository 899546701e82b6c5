#include "server.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "zelko/ipc/frame.hpp"
#include "zelko/ipc/io.hpp"
#include "zelko/ipc/os_error.hpp"
#include "zelko/ipc/utf8.hpp"

namespace derodi_sim {

namespace {

using zelko_ipc::ControlRequest;
using zelko_ipc::ControlResponse;

// The largest request the daemon reads; real requests are a few bytes long.
constexpr std::uint32_t k_max_request_length = 64 * 1024;

// A client that stalls mid-frame is dropped after this long.
constexpr timeval k_client_timeout{5, 0};

void send_answer(int connection, const ControlResponse& answer) {
  (void)zelko_ipc::write_all(connection, zelko_ipc::make_frame(answer.encode()));
}

ControlResponse refusal(std::string_view message) {
  return {ControlResponse::Error{std::string(message)}};
}

}  // namespace

std::expected<Server, std::string> Server::listen(const std::string& socket_path) {
  zelko_ipc::Fd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!listener) {
    return std::unexpected(zelko_ipc::describe_os_error(errno));
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  // The socket is bound under a temporary name and renamed once it listens,
  // so a client that finds the file can always connect.
  const std::string pending = socket_path + ".pending";
  if (pending.size() >= sizeof address.sun_path) {
    return std::unexpected("socket path too long: " + socket_path);
  }
  std::memcpy(address.sun_path, pending.c_str(), pending.size() + 1);
  ::unlink(pending.c_str());
  // Only this user may connect: the socket is created without group or other bits.
  const mode_t previous = ::umask(077);
  const int bound = ::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
  const int bind_error = errno;
  ::umask(previous);
  if (bound != 0) {
    return std::unexpected("cannot listen on " + socket_path + ": " +
                           zelko_ipc::describe_os_error(bind_error));
  }
  if (::listen(listener.get(), 64) != 0 || ::rename(pending.c_str(), socket_path.c_str()) != 0) {
    const int error = errno;
    ::unlink(pending.c_str());
    return std::unexpected("cannot listen on " + socket_path + ": " +
                           zelko_ipc::describe_os_error(error));
  }
  return Server(std::move(listener), socket_path);
}

Server::~Server() {
  if (m_listener) {
    ::unlink(m_path.c_str());
  }
}

void Server::serve(Phone& phone, const volatile std::sig_atomic_t& stop) {
  while (stop == 0) {
    pollfd waiting{m_listener.get(), POLLIN, 0};
    if (::poll(&waiting, 1, 200) <= 0) {
      continue;
    }
    zelko_ipc::Fd connection(::accept4(m_listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!connection) {
      continue;
    }
    ::setsockopt(connection.get(), SOL_SOCKET, SO_RCVTIMEO, &k_client_timeout,
                 sizeof k_client_timeout);
    ::setsockopt(connection.get(), SOL_SOCKET, SO_SNDTIMEO, &k_client_timeout,
                 sizeof k_client_timeout);
    handle(connection.get(), phone);
  }
}

void Server::handle(int connection, Phone& phone) {
  unsigned char header[4];
  if (!zelko_ipc::recv_exact(connection, header, sizeof header)) {
    return;
  }
  const std::uint32_t length = zelko_ipc::frame_length(header);
  if (length > k_max_request_length) {
    send_answer(connection, refusal("request too large"));
    return;
  }
  std::string body(length, '\0');
  if (!zelko_ipc::recv_exact(connection, body.data(), body.size())) {
    return;
  }
  if (!zelko_ipc::is_valid_utf8(body)) {
    send_answer(connection, refusal("request is not UTF-8"));
    return;
  }
  const auto request = ControlRequest::decode(body);
  if (!request) {
    send_answer(connection, refusal(request.error()));
    return;
  }
  send_answer(connection, phone.answer(*request));
}

}  // namespace derodi_sim
