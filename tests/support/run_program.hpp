#pragma once

#include <string>
#include <vector>

namespace zelko_test {

/// What a finished program left behind.
struct RunResult {
  std::string out;
  std::string err;
  int status = -1;  // exit status, or -1 when the program did not exit normally
};

/// The zelko-cli the tests run: the one built beside them, or the one that
/// ZELKO_TEST_CLI names.
[[nodiscard]] std::string cli_path();

/// Which of the output streams are terminals (pseudo-terminals in raw mode,
/// so bytes arrive unchanged) rather than pipes.
struct Terminals {
  bool out = false;
  bool err = false;
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
                                    int timeout_seconds = 20, Terminals terminals = {});

}  // namespace zelko_test
