// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <expected>
#include <string>

namespace derodi_sim {

/// A real ssh-agent holding the simulated phone's keys, listening on a
/// socket of its own. It dies with the sim, however the sim ends, and is
/// stopped when the object goes away.
class Agent {
 public:
  /// Starts ssh-agent bound to `socket_path` and waits until it listens.
  [[nodiscard]] static std::expected<Agent, std::string> start(const std::string& socket_path);

  Agent(Agent&& other) noexcept;
  Agent& operator=(Agent&&) = delete;
  Agent(const Agent&) = delete;
  ~Agent();

  /// Loads the private key at `private_path` into the agent.
  [[nodiscard]] std::expected<void, std::string> add(const std::string& private_path) const;

  [[nodiscard]] const std::string& socket_path() const { return m_socket_path; }

  /// True once the agent has exited on its own.
  [[nodiscard]] bool has_exited();

  /// Stops the agent and removes its socket.
  void stop();

 private:
  Agent(pid_t pid, std::string socket_path) : m_pid(pid), m_socket_path(std::move(socket_path)) {}

  pid_t m_pid = -1;
  std::string m_socket_path;
};

}  // namespace derodi_sim
