// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <csignal>
#include <expected>
#include <span>
#include <string>

#include "zelko/ipc/daemon_io.hpp"
#include "zelko/ipc/fd.hpp"

namespace derodi_sim {

using zelko_ipc::daemon::Deadline;
using zelko_ipc::daemon::k_no_deadline;

/// What ended a wait.
enum class Waited { ready, timed_out, client_left, stopping };

/// The sim's one way to say "stop": a descriptor readable for good once a
/// stop is asked for. Every wait in the sim goes through wait(), which
/// watches it, so a stop is seen at once and nothing wakes on a timer.
class Stop {
 public:
  [[nodiscard]] static std::expected<Stop, std::string> make();

  /// Asks for the stop; safe in a signal handler, and more than once.
  void request() const;

  [[nodiscard]] bool requested() const;

  /// Waits until one of `watched` is ready, `deadline` passes, the client
  /// on `client` (unless -1) hangs up, or a stop is asked for (first).
  [[nodiscard]] Waited wait(std::span<pollfd> watched, Deadline deadline = k_no_deadline,
                            int client = -1) const;
  [[nodiscard]] Waited wait(int fd, short events, Deadline deadline = k_no_deadline,
                            int client = -1) const {
    pollfd watched{fd, events, 0};
    return wait(std::span(&watched, 1), deadline, client);
  }

  [[nodiscard]] int fd() const { return m_fd.get(); }

 private:
  explicit Stop(zelko_ipc::Fd fd) : m_fd(std::move(fd)) {}

  zelko_ipc::Fd m_fd;
};

/// The catchable signals that would end the process: they stop the sim.
inline constexpr int k_stop_signals[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGTERM,
                                         SIGUSR1, SIGUSR2, SIGALRM};

/// Turns each of k_stop_signals into a request of `stop`, which must
/// outlive signal handling. SIGPIPE, SIGTTOU and SIGTTIN are ignored: a
/// closed reader is an error to handle, and a sim in the background of a
/// terminal is never stopped for writing or asking there.
void catch_stop_signals(const Stop& stop);

/// Gives k_stop_signals back their default: for a sim that could not
/// start and has nothing to clean up.
void stop_at_once_on_signals();

/// Opens /dev/null on each of descriptors 0 to 2 that is closed.
void open_standard_descriptors();

/// Watches one client's connection for a hang-up, and the sim for a
/// stop, while the phone's user decides.
class HangUpWatch {
 public:
  HangUpWatch(int connection, const Stop& stop) : m_connection(connection), m_stop(stop) {}

  /// Waits `time`; false when the client hung up (shutting its sending
  /// side alone is no hang-up) or the sim is stopping before it passed.
  [[nodiscard]] bool stays_for(std::chrono::milliseconds time) const;

  /// False once the client has left or the sim is stopping; never waits.
  [[nodiscard]] bool stays() const { return stays_for(std::chrono::milliseconds(0)); }

  [[nodiscard]] int connection() const { return m_connection; }
  [[nodiscard]] const Stop& stop() const { return m_stop; }

 private:
  int m_connection;
  const Stop& m_stop;
};

}  // namespace derodi_sim
