// SPDX-License-Identifier: MIT
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "run_program.hpp"
#include "temp_dir.hpp"
#include "zelko/ipc/fd.hpp"

namespace zelko_test {

/// The processes `ancestor` started, its children's included, and of
/// those only the ones named `name` when it is given. Read from
/// /proc/PID/stat, which any user may read of any process (the links
/// beside it are closed even to their owner for a set-group-ID program
/// such as Debian's ssh-agent).
[[nodiscard]] std::vector<pid_t> descendants(pid_t ancestor, const std::string& name = {});

/// Those of `pids` that still run (a zombie has ended), for a check that
/// what a sim started does not outlive it.
[[nodiscard]] std::vector<pid_t> still_running(const std::vector<pid_t>& pids);

/// How a RunningSim is started.
struct SimStart {
  std::vector<std::string> flags = {};
  std::string runtime_dir = {};               // empty: a temporary one of its own
  bool own_process_group = false;             // as a shell with job control starts it
  std::vector<std::string> environment = {};  // added to what it gets anyway
  std::string ready_file = {};                // a plain file to wait on instead of a FIFO
  bool terminal = false;                      // a pseudo-terminal as its controlling terminal
  bool unread_log = false;                    // standard error a small FIFO that nobody reads
  bool no_standard_descriptors = false;       // started with 0, 1 and 2 closed, so no log
  std::string known_hosts = {};               // its home's ~/.ssh/known_hosts, when not empty
};

/// A host key that tests which trust "localhost" name it by.
inline constexpr std::string_view k_localhost_key =
    "ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIKscinxO0X0IrT55QxtMeRKXQvWc5SuYgxx5j1cGVBHk\n";

/// A sim that trusts "localhost" (by k_localhost_key) from the start, so
/// that the windows it grants cover it and git signatures.
[[nodiscard]] SimStart trusting_localhost(std::vector<std::string> flags = {});

/// derodi-sim running on a runtime directory, by default a temporary one
/// of its own, started with --ready-file on a FIFO and waited for through
/// it, its standard error in a log, and stopped with SIGTERM when the
/// object goes away.
class RunningSim {
 public:
  explicit RunningSim(const std::vector<std::string>& flags = {}) : RunningSim(SimStart{flags}) {}
  explicit RunningSim(const SimStart& start);
  RunningSim(const RunningSim&) = delete;
  RunningSim& operator=(const RunningSim&) = delete;
  ~RunningSim();

  /// Sends `signal` and returns the exit status (-1 when killed by a signal).
  int stop(int signal = 15);
  /// Waits for the sim to exit on its own and returns its exit status.
  int wait();

  [[nodiscard]] pid_t pid() const { return m_pid; }
  [[nodiscard]] const std::string& runtime_dir() const { return m_runtime_dir; }
  [[nodiscard]] std::string agent_socket() const { return m_runtime_dir + "/zelko/agent.sock"; }
  [[nodiscard]] std::string control_socket() const { return m_runtime_dir + "/zelko/control.sock"; }
  /// What it has written to its standard error so far.
  [[nodiscard]] std::string log() const { return read_file(m_own / "log"); }
  /// Its log once `part` stands in it `times` times, or as it is after
  /// 10 s: the sim writes its lines from a thread of their own, so a line
  /// may come just after the answer it tells of.
  [[nodiscard]] std::string log_with(const std::string& part, std::size_t times = 1) const;
  /// Whether the phone logs, within 10 s, a line that begins with
  /// `decision` and holds `part` in what follows.
  [[nodiscard]] bool phone_said(const std::string& decision, const std::string& part) const;
  /// The home it was given, for ~/.ssh/known_hosts.
  [[nodiscard]] std::string home() const { return m_own / "home"; }
  /// Its ssh-agent processes, while it runs.
  [[nodiscard]] std::vector<pid_t> agents() const { return descendants(m_pid, "ssh-agent"); }
  /// The other side of its terminal, or of its unread log.
  [[nodiscard]] int terminal() const { return m_terminal.get(); }
  /// The environment for programs that talk to it.
  [[nodiscard]] std::vector<std::string> environment(bool with_agent = false) const;
  /// Runs zelko-cli against it.
  [[nodiscard]] RunResult cli(const std::vector<std::string>& arguments,
                              bool with_agent = false) const;
  /// Runs a program found on PATH with SSH_AUTH_SOCK on its agent endpoint.
  [[nodiscard]] RunResult tool(const std::vector<std::string>& argv) const;

 private:
  void wait_until_ready(const SimStart& start, int fifo);

  TempDir m_own;  // the ready FIFO, the log, and the runtime directory unless one is given
  std::string m_runtime_dir;
  zelko_ipc::Fd m_terminal;
  pid_t m_pid = -1;
};

/// An ssh-agent of the test's own holding one key, as a user's session has.
class UserAgent {
 public:
  UserAgent();
  UserAgent(const UserAgent&) = delete;
  UserAgent& operator=(const UserAgent&) = delete;
  ~UserAgent();

  /// SSH_AUTH_SOCK and SSH_AGENT_PID as the session sets them.
  [[nodiscard]] std::vector<std::string> environment() const;
  /// What ssh-add -l lists in it.
  [[nodiscard]] std::string keys() const;
  /// Its key's public line, as known_hosts holds a host key.
  [[nodiscard]] std::string public_key() const { return read_file(m_directory / "id.pub"); }

 private:
  TempDir m_directory;
  pid_t m_pid = -1;
};

/// Tests of derodi-sim, skipped with a message where the OpenSSH tools it
/// runs are missing.
class SimTest : public testing::Test {
 protected:
  void SetUp() override;
  /// The first of the sim's tools that is not on PATH, or nothing.
  static std::string missing_tool();
};

/// "PATH=" and the tests' own search path, for the programs they start.
[[nodiscard]] std::string search_path();

/// The path of the built derodi-sim.
[[nodiscard]] std::string sim_path();

/// How often `part` stands in `text`.
[[nodiscard]] std::size_t occurrences(const std::string& text, const std::string& part);

}  // namespace zelko_test
