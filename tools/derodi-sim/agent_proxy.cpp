// SPDX-License-Identifier: MIT
#include "agent_proxy.hpp"

#include "zelko/ipc/frame.hpp"
#include "zelko/ipc/io.hpp"
#include "zelko/ipc/unix_socket.hpp"

namespace derodi_sim {

namespace {

// The agent protocol frames its messages as the control protocol does: a
// 4-byte big-endian length, then the message, whose first byte is its type.
constexpr std::uint32_t k_max_message_length = 256 * 1024;
constexpr char k_sign_request = 13;  // SSH_AGENTC_SIGN_REQUEST
constexpr char k_failure = 5;        // SSH_AGENT_FAILURE

bool send(int fd, std::string_view message) {
  return static_cast<bool>(zelko_ipc::write_all(fd, zelko_ipc::make_frame(message)));
}

}  // namespace

void serve_agent(int connection, const std::string& agent_socket, Phone& phone) {
  const auto agent = zelko_ipc::connect_unix(agent_socket);
  if (!agent) {
    return;
  }
  while (true) {
    const auto message = zelko_ipc::read_frame(connection, k_max_message_length);
    if (!message) {
      return;
    }
    if (!message->empty() && message->front() == k_sign_request &&
        !phone.approves_signature(Client(connection))) {
      if (!send(connection, std::string_view(&k_failure, 1))) {
        return;
      }
      continue;
    }
    if (!send(agent->get(), *message)) {
      return;
    }
    const auto reply = zelko_ipc::read_frame(agent->get(), k_max_message_length);
    if (!reply || !send(connection, *reply)) {
      return;
    }
  }
}

}  // namespace derodi_sim
