// SPDX-License-Identifier: MIT
#include "peer.hpp"

#include <sys/socket.h>

#include <cstdio>

#include "log.hpp"
#include "text.hpp"

namespace derodi_sim {

namespace {

// The name the program gave itself (at most 15 bytes), or "?".
std::string program_name(pid_t pid) {
  const std::string name = first_line(concat("/proc/", std::to_string(pid), "/comm"));
  return name.empty() ? "?" : shown(name);
}

// The parent's id, from /proc/PID/stat: after the name in parentheses
// (which may itself hold anything), the state and then the parent's id.
pid_t parent_of(pid_t pid) {
  const std::string stat = first_line(concat("/proc/", std::to_string(pid), "/stat"));
  const std::size_t end = stat.rfind(')');
  if (end == std::string::npos) {
    return 0;
  }
  int parent = 0;
  char state = 0;
  return std::sscanf(stat.c_str() + end + 1, " %c %d", &state, &parent) == 2 ? parent : 0;
}

}  // namespace

std::string describe_peer(int connection) {
  ucred peer{};
  socklen_t size = sizeof peer;
  if (::getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.pid <= 0) {
    return "an unknown program";
  }
  std::string who = concat(program_name(peer.pid), " (pid ", std::to_string(peer.pid));
  if (const pid_t parent = parent_of(peer.pid); parent > 0) {
    who.append(", from ").append(program_name(parent));
  }
  return who.append(")");
}

}  // namespace derodi_sim
