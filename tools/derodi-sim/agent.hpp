// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <expected>
#include <string>

#include "keyring.hpp"
#include "log.hpp"
#include "stop_signals.hpp"
#include "trusted_directory.hpp"
#include "zelko/ipc/fd.hpp"

namespace derodi_sim {

/// A real ssh-agent holding the simulated phone's keys, listening on a
/// socket in a fresh private directory (mode 0700, an unpredictable name)
/// in the sim's own. It dies with the sim, however the sim ends, and is
/// stopped when the object goes away. Its standard error comes to the sim.
class Agent {
 public:
  /// Starts ssh-agent in a new directory in `directory` and waits until it
  /// says it listens, it fails, or the sim stops.
  [[nodiscard]] static std::expected<Agent, std::string> start(const TrustedDirectory& directory,
                                                               const Stop& stop);

  Agent(Agent&& other) noexcept;
  Agent& operator=(Agent&&) = delete;
  Agent(const Agent&) = delete;
  ~Agent();

  /// Loads the key whose private half is `file` in `keys` into the agent.
  [[nodiscard]] std::expected<void, std::string> add(const TrustedDirectory& keys, const Key& key,
                                                     const Stop& stop) const;

  /// Where the sim connects to the agent.
  [[nodiscard]] std::string socket_path() const;

  /// The reading end of the agent's standard error; it ends when the agent
  /// has exited.
  [[nodiscard]] int errors() const { return m_errors.get(); }

  /// Stops the agent, killing it when it has not ended after a moment (it
  /// may be stopped or stuck), and removes its socket and directory.
  void stop();

 private:
  Agent(const TrustedDirectory& directory, pid_t pid, zelko_ipc::Fd errors, std::string name)
      : m_directory(&directory), m_pid(pid), m_errors(std::move(errors)), m_name(std::move(name)) {}

  const TrustedDirectory* m_directory;
  pid_t m_pid = -1;  // the guardian's, which is also the group's
  zelko_ipc::Fd m_errors;
  std::string m_name;  // of its directory
};

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
