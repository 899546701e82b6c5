// SPDX-License-Identifier: MIT
#include "control.hpp"

#include <sys/socket.h>
#include <sys/time.h>

#include <chrono>

#include "zelko/ipc/daemon.hpp"
#include "zelko/ipc/frame.hpp"
#include "zelko/ipc/io.hpp"
#include "zelko/ipc/utf8.hpp"

namespace derodi_sim {

namespace {

// The largest request the sim reads; real requests are a few bytes long.
constexpr std::uint32_t k_max_request_length = 64 * 1024;

// A client has this long from connecting to the end of its request.
constexpr std::chrono::seconds k_request_time{5};

void send_answer(int connection, const std::string& answer) {
  // A client that does not read its answer is dropped after a while too.
  const timeval patience{static_cast<time_t>(k_request_time.count()), 0};
  ::setsockopt(connection, SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
  (void)zelko_ipc::write_all(connection, zelko_ipc::make_frame(answer));
}

std::string refusal(std::string_view message) {
  return zelko_ipc::daemon::error_answer(message);
}

}  // namespace

void serve_control(int connection, Phone& phone) {
  const auto deadline = std::chrono::steady_clock::now() + k_request_time;
  const auto body = zelko_ipc::read_frame(connection, k_max_request_length, deadline);
  if (!body) {
    if (body.error().stage == zelko_ipc::FrameError::Stage::too_long) {
      send_answer(connection, refusal("request too large"));
    }
    return;
  }
  if (!zelko_ipc::is_valid_utf8(*body)) {
    send_answer(connection, refusal("request is not UTF-8"));
    return;
  }
  const auto request = zelko_ipc::daemon::decode_request(*body);
  if (!request) {
    send_answer(connection, refusal(request.error()));
    return;
  }
  send_answer(connection, phone.answer(*request, Client(connection)));
}

}  // namespace derodi_sim
