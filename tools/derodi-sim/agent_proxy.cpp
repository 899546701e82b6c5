// SPDX-License-Identifier: MIT
#include "agent_proxy.hpp"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

#include "agent_messages.hpp"
#include "known_hosts.hpp"
#include "text.hpp"
#include "zelko/ipc/daemon_io.hpp"
#include "zelko/ipc/frame.hpp"
#include "zelko/ipc/io.hpp"
#include "zelko/ipc/overloaded.hpp"
#include "zelko/ipc/unix_socket.hpp"

namespace derodi_sim {

namespace {

// Agent messages are framed as control ones; the first byte is the type.
constexpr std::uint32_t k_max_message_length = 256 * 1024;

// How long the private agent may take over one answer.
constexpr std::chrono::seconds k_agent_time{10};

// How many hosts a login was reached through are named; more are counted.
constexpr std::size_t k_hops_shown = 2;

// A host the connection was bound to, once the agent accepted the bind.
struct Hop {
  std::string host;  // as the phone names it
  std::string session_id;
  std::optional<Destination> destination;  // when known_hosts names its key, unrevoked
  bool forwarding;                         // a bind of a forwarded agent's connection
};

bool send(int fd, std::string_view message) {
  return static_cast<bool>(zelko_ipc::write_all(fd, zelko_ipc::make_frame(message)));
}

// The program at the other end of a connection, as the phone names it.
struct Peer {
  // "'ssh' ('/usr/bin/ssh', pid 4242), from 'bash' ('/usr/bin/bash')",
  // "really" before an executable the name does not match.
  std::string description;
  std::vector<std::string> arguments;  // its command line (at most 64 KiB)
};

std::string proc_file(pid_t pid, std::string_view name) {
  return concat("/proc/", std::to_string(pid), "/", name);
}

// The executable process `pid` runs, or nothing (another user's process).
std::string executable(pid_t pid) {
  char target[4096];
  const ssize_t size = ::readlink(proc_file(pid, "exe").c_str(), target, sizeof target);
  return size > 0 ? std::string(target, static_cast<std::size_t>(size)) : std::string();
}

// "'NAME' (EXECUTABLE", "really" before one whose name (15 bytes of it)
// the process did not give itself.
std::string named(pid_t pid) {
  const std::string name = first_line(AT_FDCWD, proc_file(pid, "comm"));
  const std::string path = executable(pid);
  std::string text = concat(name.empty() ? "an unnamed program" : foreign(name), " (");
  if (path.empty()) {
    return text.append("executable unknown");
  }
  const std::string base = path.substr(path.rfind('/') + 1);
  if (name.empty() || base.substr(0, 15) != name) {
    text.append("really ");
  }
  return text.append(foreign(path));
}

// The parent's id, from /proc/PID/stat, after the name (which may hold anything).
pid_t parent_of(pid_t pid) {
  const std::string stat = first_line(AT_FDCWD, proc_file(pid, "stat"));
  const std::size_t end = stat.rfind(')');
  if (end == std::string::npos) {
    return 0;
  }
  int parent = 0;
  char state = 0;
  return std::sscanf(stat.c_str() + end + 1, " %c %d", &state, &parent) == 2 ? parent : 0;
}

std::vector<std::string> command_line(pid_t pid) {
  const std::string text = read_small_file(AT_FDCWD, proc_file(pid, "cmdline"), 64 * 1024);
  constexpr std::string_view k_nul("", 1);  // what ends each word there
  std::vector<std::string> words;
  std::size_t at = 0;
  for (auto word = next_word(text, at, k_nul); !word.empty(); word = next_word(text, at, k_nul)) {
    words.emplace_back(word);
  }
  return words;
}

Peer describe_peer(int connection) {
  ucred credentials{};
  socklen_t size = sizeof credentials;
  if (::getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 ||
      credentials.pid <= 0) {
    return Peer{"an unknown program", {}};
  }
  const pid_t pid = credentials.pid;
  std::string who = concat(named(pid), ", pid ", std::to_string(pid), ")");
  if (const pid_t parent = parent_of(pid); parent > 0) {
    who.append(", from ").append(named(parent)).append(")");
  }
  return Peer{who, command_line(pid)};
}

// A verified host as known_hosts names it (a hashed entry only by a name
// the requesting ssh was given), or by its key's fingerprint.
Hop named_host(const SessionBind& bind, const Peer& peer, const AgentRoute& route) {
  const auto candidates = host_names_on_command_line(peer.arguments);
  const char* forwarded = bind.forwarding ? ", agent forwarded" : "";
  std::vector<std::string> unread;
  const auto known = find_known_host(bind.host_key, candidates, route.known_hosts_files, unread);
  for (std::string& line : unread) {
    route.log.write(std::move(line));
  }
  Hop hop{{}, std::string(bind.session_id), std::nullopt, bind.forwarding};
  if (known) {
    hop.host = concat(foreign(known->names),
                      known->revoked ? " (host key REVOKED in " : " (host key verified, ",
                      known->file, " line ", std::to_string(known->line), forwarded, ")");
    if (!known->revoked) {
      hop.destination = Destination{known->names, std::string(bind.host_key)};
    }
  } else {
    hop.host = concat("a host not in known_hosts, key ", fingerprint(bind.host_key),
                      bind.forwarding ? " (agent forwarded)" : "");
  }
  return hop;
}

// Where a login with `session_id` goes, then the hops it was reached
// through, nearest first; nothing when the agent verified no host for it.
std::optional<std::string> verified_destination(const std::vector<Hop>& hops,
                                                std::string_view session_id,
                                                std::optional<Destination>& destination) {
  for (std::size_t i = 0; i < hops.size(); ++i) {
    if (hops[i].session_id == session_id) {
      destination = hops[i].destination;
      std::string text = concat("to ", hops[i].host);
      for (std::size_t j = i, shown = 0; j-- > 0; ++shown) {
        if (shown == k_hops_shown) {
          text.append(", via ").append(std::to_string(j + 1)).append(" more hosts");
          break;
        }
        text.append(", via ").append(hops[j].host);
      }
      return text;
    }
  }
  return std::nullopt;
}

SignatureRequest described(const SignRequest& request, const std::vector<Hop>& hops,
                           const std::string& who) {
  SignatureRequest signature{request.key_blob, {}, who};
  // A connection a forwarded agent opened starts with a bind that says so.
  signature.forwarded =
      std::any_of(hops.begin(), hops.end(), [](const Hop& hop) { return hop.forwarding; });
  std::visit(
      zelko_ipc::Overloaded{
          [&](const Login& login) {
            const auto where = verified_destination(hops, login.session_id, signature.destination);
            signature.what = concat("ssh login as ", foreign(login.user), " ",
                                    where.value_or("to an unverified destination"));
          },
          [&](const Sshsig& sshsig) {
            signature.what = concat("SSHSIG signature in namespace ", foreign(sshsig.name_space));
            signature.git = sshsig.name_space == "git";
          },
          [&](std::monostate) {
            signature.what = concat("something of no kind the phone knows (",
                                    std::to_string(request.data.size()), " bytes)");
          },
      },
      what_is_signed(request.data));
  if (signature.forwarded) {
    signature.what.append(", through a forwarded agent");
  }
  return signature;
}

}  // namespace

void serve_agent(int connection, const AgentRoute& route, Phone& phone, const Stop& stop) {
  const auto agent = zelko_ipc::connect_unix(route.agent_socket);
  if (!agent) {
    return;
  }
  std::vector<Hop> hops;
  std::optional<Peer> peer;  // what the phone knows of the other end, learnt once
  const auto the_peer = [&]() -> const Peer& {
    return peer ? *peer : peer.emplace(describe_peer(connection));
  };
  while (true) {
    // No time limit here: ssh keeps its connection open for a whole session.
    const auto message = zelko_ipc::read_frame(connection, k_max_message_length);
    if (!message) {
      return;
    }
    const char type = message->empty() ? 0 : message->front();
    // Listing and signing only: adding, removing, locking... are refused.
    bool refused = type != k_request_identities && type != k_sign_request && type != k_extension;
    if (type == k_sign_request) {
      const auto request = sign_request(*message);
      refused =
          !request || !phone.approves_signature(HangUpWatch(connection, stop),
                                                described(*request, hops, the_peer().description));
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
    // A host counts once the agent has checked its signature of the session.
    const auto bind = session_bind(*message);
    if (bind && *reply == std::string_view(&k_agent_success, 1)) {
      hops.push_back(named_host(*bind, the_peer(), route));
    }
    if (!send(connection, *reply)) {
      return;
    }
  }
}

}  // namespace derodi_sim
