// SPDX-License-Identifier: MIT
#include "agent_proxy.hpp"

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "agent_messages.hpp"
#include "fingerprint.hpp"
#include "peer.hpp"
#include "text.hpp"
#include "zelko/ipc/daemon_io.hpp"
#include "zelko/ipc/frame.hpp"
#include "zelko/ipc/io.hpp"
#include "zelko/ipc/overloaded.hpp"
#include "zelko/ipc/unix_socket.hpp"

namespace derodi_sim {

namespace {

// The agent protocol frames its messages as the control protocol does: a
// 4-byte big-endian length, then the message, whose first byte is its type.
constexpr std::uint32_t k_max_message_length = 256 * 1024;

// How long the private agent may take over one answer.
constexpr std::chrono::seconds k_agent_time{10};

// A host the connection was bound to, once the agent accepted the bind.
struct Hop {
  std::string host;  // the fingerprint of its host key
  std::string session_id;
  bool forwarding = false;
};

bool send(int fd, std::string_view message) {
  return static_cast<bool>(zelko_ipc::write_all(fd, zelko_ipc::make_frame(message)));
}

std::string shown_hop(const Hop& hop) {
  return concat(hop.host, hop.forwarding ? " (agent forwarded)" : "");
}

// Where a login with `session_id` goes: the hop the agent accepted for that
// session, then the hops it was reached through, nearest first; nothing
// when the agent verified no host for it.
std::optional<std::string> verified_destination(const std::vector<Hop>& hops,
                                                std::string_view session_id) {
  for (std::size_t i = 0; i < hops.size(); ++i) {
    if (hops[i].session_id == session_id) {
      std::string text = concat("host ", shown_hop(hops[i]));
      for (std::size_t j = i; j-- > 0;) {
        text.append(" via ").append(shown_hop(hops[j]));
      }
      return text;
    }
  }
  return std::nullopt;
}

SignatureRequest described(const SignRequest& request, const std::vector<Hop>& hops,
                           const std::string& who) {
  SignatureRequest signature{request.key_blob, {}, false, who};
  std::visit(zelko_ipc::Overloaded{
                 [&](const Login& login) {
                   const auto where = verified_destination(hops, login.session_id);
                   signature.what = concat("ssh login as ", quoted(shown(login.user)), " for ",
                                           where.value_or("an unverified destination"));
                   signature.in_window_scope = where.has_value();
                 },
                 [&](const Sshsig& sshsig) {
                   signature.what =
                       concat("SSHSIG signature in namespace ", quoted(shown(sshsig.name_space)));
                   signature.in_window_scope = sshsig.name_space == "git";
                 },
                 [&](std::monostate) {
                   signature.what = concat("something of no kind the phone knows (",
                                           std::to_string(request.data.size()), " bytes)");
                 },
             },
             what_is_signed(request.data));
  return signature;
}

}  // namespace

void serve_agent(int connection, const std::string& agent_socket, Phone& phone) {
  const auto agent = zelko_ipc::connect_unix(agent_socket);
  if (!agent) {
    return;
  }
  std::vector<Hop> hops;
  std::string who;
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
    if (type == k_sign_request) {
      const auto request = sign_request(*message);
      if (request && who.empty()) {
        who = describe_peer(connection);
      }
      refused =
          !request || !phone.approves_signature(Client(connection), described(*request, hops, who));
    }
    if (refused) {
      if (!send(connection, std::string_view(&k_agent_failure, 1))) {
        return;
      }
      continue;
    }
    if (!send(agent->get(), *message)) {
      return;
    }
    const auto reply = zelko_ipc::daemon::read_frame(
        agent->get(), k_max_message_length, std::chrono::steady_clock::now() + k_agent_time);
    if (!reply) {
      return;
    }
    // A destination counts only once the agent has checked the host's
    // signature over the session and accepted the bind.
    const auto bind = session_bind(*message);
    if (bind && *reply == std::string_view(&k_agent_success, 1)) {
      hops.push_back(
          {fingerprint(bind->host_key), std::string(bind->session_id), bind->forwarding});
    }
    if (!send(connection, *reply)) {
      return;
    }
  }
}

}  // namespace derodi_sim
