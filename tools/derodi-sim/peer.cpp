// SPDX-License-Identifier: MIT
#include "peer.hpp"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "small_file.hpp"
#include "text.hpp"

namespace derodi_sim {

namespace {

std::string proc_file(pid_t pid, std::string_view name) {
  return concat("/proc/", std::to_string(pid), "/", name);
}

// The executable process `pid` runs, or nothing when the system does not
// tell (another user's process).
std::string executable(pid_t pid) {
  char target[4096];
  const ssize_t size = ::readlink(proc_file(pid, "exe").c_str(), target, sizeof target);
  return size > 0 ? std::string(target, static_cast<std::size_t>(size)) : std::string();
}

// "'NAME' (EXECUTABLE" for process `pid`, or "'NAME' (really EXECUTABLE"
// when the name it gave itself is not its executable's (the kernel keeps
// 15 bytes of a name).
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

// The parent's id, from /proc/PID/stat: after the name in parentheses
// (which may itself hold anything), the state and then the parent's id.
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

}  // namespace

Peer describe_peer(int connection) {
  ucred credentials{};
  socklen_t size = sizeof credentials;
  if (::getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 ||
      credentials.pid <= 0) {
    return Peer{0, "an unknown program", {}};
  }
  const pid_t pid = credentials.pid;
  std::string who = concat(named(pid), ", pid ", std::to_string(pid), ")");
  if (const pid_t parent = parent_of(pid); parent > 0) {
    who.append(", from ").append(named(parent)).append(")");
  }
  return Peer{pid, who, command_line(pid)};
}

}  // namespace derodi_sim
