// SPDX-License-Identifier: MIT
#pragma once

#include <string>

#include "log.hpp"

namespace derodi_sim {

/// Tells what the agent says on its standard error, a line at a time,
/// quoted as foreign text, unless the sim is quiet.
class AgentErrors {
 public:
  AgentErrors(Log& log, bool quiet) : m_log(log), m_quiet(quiet) {}

  /// Reads what `fd` has; false once it has ended.
  bool read_from(int fd);

 private:
  Log& m_log;
  bool m_quiet;
  std::string m_pending;
};

}  // namespace derodi_sim
