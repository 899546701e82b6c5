// SPDX-License-Identifier: MIT
#include "cli_fixture.hpp"

namespace zelko_test {
namespace {

class Setup : public CliTest {};

constexpr std::string_view k_advice =
    "zelko-cli: setup is a Windows command; on Linux put\n"
    "    export SSH_AUTH_SOCK=\"$XDG_RUNTIME_DIR/zelko/agent.sock\"\n"
    "in your shell profile and start derodi from your session\n";

TEST_F(Setup, AdviceWithAndWithoutUndoAndNoDaemonContact) {
  answer("status\na\tb\tc\td\te");
  EXPECT_RUN(run({"setup"}), "", k_advice, 1);
  EXPECT_RUN(run({"setup", "--undo"}), "", k_advice, 1);
  EXPECT_RUN(run({"setup", "--undo", "x"}), "",
             "zelko-cli: unknown flag '--undo'; usage: zelko-cli setup [--undo]\n", 1);
  EXPECT_RUN(run({"setup", ""}), "",
             "zelko-cli: unknown flag ''; usage: zelko-cli setup [--undo]\n", 1);
  EXPECT_EQ(connections(), 0);
  // Nothing about it depends on the environment.
  EXPECT_RUN(run_program(cli_path(), {"setup"}, {}), "", k_advice, 1);
}

}  // namespace
}  // namespace zelko_test
