// SPDX-License-Identifier: MIT
#include "agent_errors.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "text.hpp"

namespace derodi_sim {

namespace {

// A line of the agent's is shown up to this many characters; what it would
// send beyond a line this long is told as such.
constexpr std::size_t k_line_characters = 200;

}  // namespace

bool AgentErrors::read_from(int fd) {
  char chunk[4096];
  const ssize_t got = ::read(fd, chunk, sizeof chunk);
  if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
    return true;
  }
  if (got <= 0) {
    return false;
  }
  m_pending.append(chunk, static_cast<std::size_t>(got));
  std::size_t end;
  while ((end = m_pending.find('\n')) != std::string::npos || m_pending.size() > 4096) {
    end = std::min(end, m_pending.size());
    std::string_view line = std::string_view(m_pending).substr(0, end);
    line = line.substr(0, line.find_last_not_of('\r') + 1);
    if (!m_quiet) {
      m_log.write(concat("derodi-sim: agent: ", foreign(line, k_line_characters)));
    }
    m_pending.erase(0, std::min(end + 1, m_pending.size()));
  }
  return true;
}

}  // namespace derodi_sim
