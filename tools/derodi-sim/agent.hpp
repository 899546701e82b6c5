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

/// A real ssh-agent holding the phone's keys, listening in a new private
/// directory in the sim's own. It dies with the sim, however the sim ends.
class Agent {
 public:
  /// Starts ssh-agent and waits until it listens, fails, or the sim stops.
  [[nodiscard]] static std::expected<Agent, std::string> start(const TrustedDirectory& directory,
                                                               const Stop& stop);

  Agent(Agent&& other) noexcept;
  Agent& operator=(Agent&&) = delete;
  Agent(const Agent&) = delete;
  ~Agent();

  /// Loads `key`, whose files are in `keys`, into the agent (ssh-add's
  /// output, or why it failed).
  [[nodiscard]] std::expected<std::string, std::string> add(const TrustedDirectory& keys,
                                                            const Key& key, const Stop& stop) const;

  /// Where the sim connects to the agent.
  [[nodiscard]] std::string socket_path() const;

  /// Tells `log` what the agent says on its standard error, a line at a
  /// time (unless `quiet`), until a stop is asked for (nothing) or the
  /// agent exits (why the sim stops).
  [[nodiscard]] std::expected<void, std::string> tell_errors(Log& log, bool quiet,
                                                             const Stop& stop) const;

  /// Stops the agent (killed if it has not ended after a moment) and
  /// removes its directory.
  void stop();

 private:
  Agent(const TrustedDirectory& directory, pid_t pid, zelko_ipc::Fd errors, std::string name)
      : m_directory(&directory), m_pid(pid), m_errors(std::move(errors)), m_name(std::move(name)) {}

  const TrustedDirectory* m_directory;
  pid_t m_pid = -1;  // the guardian's, which is also the group's
  zelko_ipc::Fd m_errors;
  std::string m_name;  // of its directory
};

}  // namespace derodi_sim
