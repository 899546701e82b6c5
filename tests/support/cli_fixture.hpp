// SPDX-License-Identifier: MIT
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "run_program.hpp"
#include "scripted_daemon.hpp"
#include "temp_dir.hpp"

namespace zelko_test {

/// End-to-end tests: each runs the built zelko-cli on a fresh runtime
/// directory, optionally with a scripted daemon listening in it.
class CliTest : public testing::Test {
 protected:
  /// Starts the scripted daemon with `script`.
  void serve(Script script);
  /// Starts the scripted daemon answering every request with one frame of `body`.
  void answer(std::string_view body) { serve({frame(body)}); }

  /// Runs zelko-cli with `arguments`, XDG_RUNTIME_DIR set to the runtime
  /// directory and `environment` added; then waits until the daemon is idle.
  RunResult run(const std::vector<std::string>& arguments,
                const std::vector<std::string>& environment = {});

  /// How many connections the daemon accepted (0 when none was started).
  [[nodiscard]] int connections() const;
  /// The request bytes the daemon received.
  [[nodiscard]] std::string received() const;

  TempDir runtime;
  std::unique_ptr<ScriptedDaemon> daemon;
};

}  // namespace zelko_test

namespace zelko_test {

/// Checks all three observable results of a run at once.
#define EXPECT_RUN(result, expected_out, expected_err, expected_status) \
  do {                                                                  \
    const auto& r_ = (result);                                          \
    EXPECT_EQ(r_.out, expected_out);                                    \
    EXPECT_EQ(r_.err, expected_err);                                    \
    EXPECT_EQ(r_.status, expected_status);                              \
  } while (false)

}  // namespace zelko_test
