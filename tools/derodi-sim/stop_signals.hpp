// SPDX-License-Identifier: MIT
#pragma once

#include <expected>
#include <string>

#include "zelko/ipc/fd.hpp"

namespace derodi_sim {

/// The sim's one way to say "stop": a descriptor that becomes readable,
/// and stays so, once a stop is asked for. Everything that waits in the
/// sim waits on it beside what it waits for, so a stop is seen at once,
/// and nothing wakes on a timer to look for one.
class Stop {
 public:
  [[nodiscard]] static std::expected<Stop, std::string> make();

  /// Asks for the stop; safe in a signal handler, and more than once.
  void request() const;

  [[nodiscard]] bool requested() const;

  /// For poll, with POLLIN.
  [[nodiscard]] int fd() const { return m_fd.get(); }

 private:
  explicit Stop(zelko_ipc::Fd fd) : m_fd(std::move(fd)) {}

  zelko_ipc::Fd m_fd;
};

/// Turns SIGINT, SIGTERM, SIGHUP and SIGQUIT into a request of `stop`,
/// which must outlive the process's handling of signals. SIGPIPE is
/// ignored (a closed reader is an error to handle), and so are SIGTTOU and
/// SIGTTIN: a sim in the background of a terminal (`stty tostop`) is never
/// stopped for writing or asking there.
void catch_stop_signals(const Stop& stop);

}  // namespace derodi_sim
