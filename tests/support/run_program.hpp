// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <vector>

namespace zelko_test {

/// What a finished program left behind.
struct RunResult {
  std::string out;
  std::string err;
  int status = -1;     // exit status, or -1 when the program did not exit normally
  int out_writes = 0;  // how many writes made up `out`, when OutputPlan::count_writes
};

/// The full path of `tool` as PATH finds it, or nothing when it is not there.
[[nodiscard]] std::string find_on_path(const std::string& tool);

/// The zelko-cli the tests run: the one built beside them, or the one that
/// ZELKO_TEST_CLI names.
[[nodiscard]] std::string cli_path();

/// Which of the output streams are terminals (pseudo-terminals in raw mode,
/// so bytes arrive unchanged) rather than pipes.
struct Terminals {
  bool out = false;
  bool err = false;
};

/// How the reader of standard output behaves, when not as a plain pipe.
struct OutputPlan {
  /// The reader goes away after this many bytes, as `| head -c` does.
  std::size_t read_at_most = static_cast<std::size_t>(-1);
  /// The program's end is non-blocking, and the reader starts late.
  bool non_blocking = false;
  /// Standard output is a packet socket, so each write arrives apart.
  bool count_writes = false;
};

/// Runs `program` with `arguments` and exactly the environment `environment`
/// ("NAME=value" entries), standard input from /dev/null, and collects both
/// output streams. Kills the program after `timeout_seconds`.
///
/// When ZELKO_TEST_WRAPPER is set (for example to a valgrind command line),
/// zelko-cli runs under it.
[[nodiscard]] RunResult run_program(const std::string& program,
                                    const std::vector<std::string>& arguments,
                                    const std::vector<std::string>& environment,
                                    int timeout_seconds = 20, Terminals terminals = {},
                                    OutputPlan plan = {});

}  // namespace zelko_test
