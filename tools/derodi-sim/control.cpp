// SPDX-License-Identifier: MIT
#include "control.hpp"

#include <chrono>

#include "zelko/ipc/daemon.hpp"
#include "zelko/ipc/daemon_io.hpp"
#include "zelko/ipc/frame.hpp"
#include "zelko/ipc/utf8.hpp"

namespace derodi_sim {

namespace {

// The largest request the sim reads; real requests are a few bytes long.
constexpr std::uint32_t k_max_request_length = 64 * 1024;

// A client has this long from connecting to the end of its request.
constexpr std::chrono::seconds k_request_time{5};

void send_answer(int connection, const std::string& answer) {
  // A client that does not read its answer in time is dropped.
  (void)zelko_ipc::daemon::send_all(connection, zelko_ipc::make_frame(answer),
                                    std::chrono::steady_clock::now() + k_request_time);
}

std::string refusal(std::string_view message) {
  return zelko_ipc::daemon::error_answer(message);
}

}  // namespace

void serve_control(int connection, Phone& phone, const Stop& stop) {
  const auto deadline = std::chrono::steady_clock::now() + k_request_time;
  const auto body = zelko_ipc::daemon::read_frame(connection, k_max_request_length, deadline);
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
  send_answer(connection, phone.answer(*request, HangUpWatch(connection, stop)));
}

}  // namespace derodi_sim
