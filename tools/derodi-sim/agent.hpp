// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <expected>
#include <string>

#include "keyring.hpp"
#include "zelko/ipc/fd.hpp"

namespace derodi_sim {

/// A real ssh-agent holding the simulated phone's keys, listening on a
/// socket in a fresh private directory (mode 0700, an unpredictable name)
/// in the sim's own. It dies with the sim, however the sim ends, and is
/// stopped when the object goes away. Its standard error comes to the sim.
class Agent {
 public:
  /// Starts ssh-agent in a new directory in `directory` and waits until it
  /// listens.
  [[nodiscard]] static std::expected<Agent, std::string> start(const std::string& directory);

  Agent(Agent&& other) noexcept;
  Agent& operator=(Agent&&) = delete;
  Agent(const Agent&) = delete;
  ~Agent();

  /// Loads `key` into the agent.
  [[nodiscard]] std::expected<void, std::string> add(const Key& key) const;

  [[nodiscard]] const std::string& socket_path() const { return m_socket_path; }

  /// The reading end of the agent's standard error.
  [[nodiscard]] int errors() const { return m_errors.get(); }

  /// True once the agent has exited on its own.
  [[nodiscard]] bool has_exited();

  /// Stops the agent, killing it when it has not ended after a moment (it
  /// may be stopped or stuck), and removes its socket and directory.
  void stop();

 private:
  Agent(pid_t pid, zelko_ipc::Fd errors, std::string directory)
      : m_pid(pid),
        m_errors(std::move(errors)),
        m_directory(std::move(directory)),
        m_socket_path(m_directory + "/socket") {}

  pid_t m_pid = -1;  // the guardian's, which is also the group's
  zelko_ipc::Fd m_errors;
  std::string m_directory;
  std::string m_socket_path;
};

}  // namespace derodi_sim
