// SPDX-License-Identifier: MIT
#include "agent_proxy.hpp"

#include <chrono>
#include <cstdint>
#include <optional>

#include "fingerprint.hpp"
#include "zelko/ipc/daemon_io.hpp"
#include "zelko/ipc/frame.hpp"
#include "zelko/ipc/io.hpp"
#include "zelko/ipc/unix_socket.hpp"

namespace derodi_sim {

namespace {

// The agent protocol frames its messages as the control protocol does: a
// 4-byte big-endian length, then the message, whose first byte is its type.
constexpr std::uint32_t k_max_message_length = 256 * 1024;
constexpr char k_failure = 5;              // SSH_AGENT_FAILURE
constexpr char k_request_identities = 11;  // SSH2_AGENTC_REQUEST_IDENTITIES
constexpr char k_sign_request = 13;        // SSH2_AGENTC_SIGN_REQUEST
constexpr char k_extension = 27;           // SSH_AGENTC_EXTENSION
constexpr std::string_view k_session_bind = "session-bind@openssh.com";

// How long the private agent may take over one answer.
constexpr std::chrono::seconds k_agent_time{10};

bool send(int fd, std::string_view message) {
  return static_cast<bool>(zelko_ipc::write_all(fd, zelko_ipc::make_frame(message)));
}

// Takes an SSH string (a 4-byte big-endian length, then the bytes) off the
// front of `rest`.
std::optional<std::string_view> take_string(std::string_view& rest) {
  if (rest.size() < 4) {
    return std::nullopt;
  }
  std::uint32_t length = 0;
  for (int i = 0; i < 4; ++i) {
    length = length << 8 | static_cast<unsigned char>(rest[static_cast<std::size_t>(i)]);
  }
  rest.remove_prefix(4);
  if (length > rest.size()) {
    return std::nullopt;
  }
  const std::string_view text = rest.substr(0, length);
  rest.remove_prefix(length);
  return text;
}

// The key blob of a signature request: its first string.
std::string_view signing_key(std::string_view message) {
  std::string_view rest = message.substr(1);
  return take_string(rest).value_or(std::string_view());
}

// The destination a session-bind extension binds the connection to: the
// fingerprint of the server's host key, its first string after the name.
std::optional<std::string> bound_destination(std::string_view message) {
  std::string_view rest = message.substr(1);
  if (take_string(rest) != k_session_bind) {
    return std::nullopt;
  }
  const auto host_key = take_string(rest);
  if (!host_key) {
    return std::nullopt;
  }
  return fingerprint(*host_key);
}

}  // namespace

void serve_agent(int connection, const std::string& agent_socket, Phone& phone) {
  const auto agent = zelko_ipc::connect_unix(agent_socket);
  if (!agent) {
    return;
  }
  std::string destination;
  while (true) {
    // No time limit here: ssh keeps its connection open for a whole session.
    const auto message = zelko_ipc::read_frame(connection, k_max_message_length);
    if (!message) {
      return;
    }
    const char type = message->empty() ? 0 : message->front();
    // The keys are the phone's: listing and signing only. Adding, removing,
    // locking and anything else (an empty message too) is refused.
    bool refused = type != k_request_identities && type != k_sign_request && type != k_extension;
    if (type == k_extension) {
      if (auto bound = bound_destination(*message)) {
        destination = std::move(*bound);
      }
    }
    if (type == k_sign_request) {
      refused = !phone.approves_signature(Client(connection), signing_key(*message), destination);
    }
    if (refused) {
      if (!send(connection, std::string_view(&k_failure, 1))) {
        return;
      }
      continue;
    }
    if (!send(agent->get(), *message)) {
      return;
    }
    const auto reply = zelko_ipc::daemon::read_frame(agent->get(), k_max_message_length,
                                             std::chrono::steady_clock::now() + k_agent_time);
    if (!reply || !send(connection, *reply)) {
      return;
    }
  }
}

}  // namespace derodi_sim
