// SPDX-License-Identifier: MIT
#include "setup.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

#include "scripted_daemon.hpp"
#include "temp_dir.hpp"

namespace {

using zelko_cli::setup::environment_lines_for;

constexpr std::string_view k_advice =
    "setup is a Windows command; on Linux put\n"
    "    export SSH_AUTH_SOCK=\"$XDG_RUNTIME_DIR/zelko/agent.sock\"\n"
    "in your shell profile and start derodi from your session";

int g_probe_calls = 0;
bool counting_probe() {
  ++g_probe_calls;
  return true;
}

TEST(SetupRun, AdviceOrUnknownFlagAndTheProbeIsNeverCalled) {
  struct Row {
    std::vector<std::string_view> arguments;
    std::string message;
  };
  const Row rows[] = {
      {{}, std::string(k_advice)},
      {{"--undo"}, std::string(k_advice)},
      {{"--UNDO"}, "unknown flag '--UNDO'; usage: zelko-cli setup [--undo]"},
      {{"-u"}, "unknown flag '-u'; usage: zelko-cli setup [--undo]"},
      {{"undo"}, "unknown flag 'undo'; usage: zelko-cli setup [--undo]"},
      {{""}, "unknown flag ''; usage: zelko-cli setup [--undo]"},
      {{"--undo", "--undo"}, "unknown flag '--undo'; usage: zelko-cli setup [--undo]"},
      {{"x", "--undo"}, "unknown flag 'x'; usage: zelko-cli setup [--undo]"},
  };
  g_probe_calls = 0;
  for (const Row& row : rows) {
    const auto outcome = zelko_cli::setup::run(row.arguments, counting_probe);
    ASSERT_FALSE(outcome);
    EXPECT_EQ(outcome.error().text(), row.message);
  }
  EXPECT_EQ(g_probe_calls, 0);
}

TEST(EnvironmentLines, ThreeVerdicts) {
  const std::string endpoint = "/run/user/1000/zelko/agent.sock";
  struct Row {
    const char* auth_sock;
    std::string line;
  };
  const Row rows[] = {
      {"/run/user/1000/zelko/agent.sock", "this shell      Zelko"},
      {"  /run/user/1000/zelko/agent.sock\n", "this shell      Zelko"},
      {"\xe3\x80\x80/run/user/1000/zelko/agent.sock\xc2\xa0", "this shell      Zelko"},
      {nullptr, "this shell      no agent (SSH_AUTH_SOCK is not set)"},
      {"", "this shell      no agent (SSH_AUTH_SOCK is not set)"},
      {" \t\n ", "this shell      no agent (SSH_AUTH_SOCK is not set)"},
      {"/run/\xff/agent.sock", "this shell      no agent (SSH_AUTH_SOCK is not set)"},
      {"/RUN/user/1000/zelko/agent.sock",
       "this shell      not Zelko: SSH_AUTH_SOCK=/RUN/user/1000/zelko/agent.sock"},
      {" /run/user/1000/zelko/agent.sock/ ",
       "this shell      not Zelko: SSH_AUTH_SOCK=/run/user/1000/zelko/agent.sock/"},
      {"/tmp/ssh-x/agent.1", "this shell      not Zelko: SSH_AUTH_SOCK=/tmp/ssh-x/agent.1"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(environment_lines_for(endpoint, row.auth_sock), std::vector<std::string>{row.line})
        << (row.auth_sock ? row.auth_sock : "(unset)");
  }
  // An empty endpoint never matches.
  EXPECT_EQ(environment_lines_for("", "x"),
            std::vector<std::string>{"this shell      not Zelko: SSH_AUTH_SOCK=x"});
  // The endpoint itself is not trimmed.
  EXPECT_EQ(environment_lines_for(" /a", " /a"),
            std::vector<std::string>{"this shell      not Zelko: SSH_AUTH_SOCK=/a"});
}

// The probe is one status exchange: any answer but an error counts as alive.
TEST(DaemonProbe, TrueForAnyAnswerButAnError) {
  struct Row {
    std::string reply;
    bool answers;
  };
  const Row rows[] = {
      {zelko_test::frame("status\na\tb\tc\td\te"), true},
      {zelko_test::frame("keys"), true},
      {zelko_test::frame("error\nlocked"), false},
      {zelko_test::frame("nonsense"), false},
      {"", false},
  };
  for (const Row& row : rows) {
    zelko_test::TempDir runtime;
    ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    zelko_test::ScriptedDaemon daemon(runtime.path(), {row.reply});
    EXPECT_EQ(zelko_cli::setup::daemon_answers(), row.answers) << row.reply;
    daemon.stop();
    EXPECT_EQ(daemon.received(), zelko_test::frame("status"));
  }
  zelko_test::TempDir empty;
  ::setenv("XDG_RUNTIME_DIR", empty.path().c_str(), 1);
  EXPECT_FALSE(zelko_cli::setup::daemon_answers());
  ::unsetenv("XDG_RUNTIME_DIR");
}

}  // namespace
