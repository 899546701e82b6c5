// SPDX-License-Identifier: MIT
#include "zelko/ipc/client.hpp"

#include "zelko/ipc/frame.hpp"
#include "zelko/ipc/io.hpp"
#include "zelko/ipc/runtime_dir.hpp"
#include "zelko/ipc/unix_socket.hpp"
#include "zelko/ipc/utf8.hpp"

namespace zelko_ipc::client {

namespace {

Message unreachable(std::string_view path, std::string_view error) {
  Message message("cannot reach derodi at ");
  message.foreign(to_utf8_lossy(path)).own(": ").own(error).own("\nis the daemon running?");
  return message;
}

Message frame_failure(const FrameError& failure) {
  switch (failure.stage) {
    case FrameError::Stage::header:
      return Message("no answer from derodi: ").own(failure.detail);
    case FrameError::Stage::too_long:
      return Message(k_oversized);
    case FrameError::Stage::body:
      break;
  }
  return Message("truncated answer from derodi: ").own(failure.detail);
}

}  // namespace

std::expected<ControlResponse, Message> exchange_on(int fd, const ControlRequest& request) {
  if (auto sent = write_all(fd, make_frame(request.encode())); !sent) {
    return std::unexpected(Message("cannot send the request: ").own(sent.error().text));
  }
  // The length is checked before anything is allocated, so no answer costs
  // more than 1 MiB.
  auto body = read_frame(fd, k_max_answer_length);
  if (!body) {
    return std::unexpected(frame_failure(body.error()));
  }
  auto answer = ControlResponse::decode(std::move(*body));
  if (!answer) {
    return std::unexpected(Message(answer.error()));
  }
  return std::move(*answer);
}

std::expected<ControlResponse, Message> exchange(ControlRequest request) {
  const auto path = runtime_dir::control_socket_path();
  if (!path) {
    return std::unexpected(Message(path.error()).own(", so the control socket cannot be located"));
  }
  auto socket = connect_unix(*path);
  if (!socket) {
    return std::unexpected(unreachable(*path, socket.error()));
  }
  return exchange_on(socket->get(), request);
}

}  // namespace zelko_ipc::client
