// SPDX-License-Identifier: MIT
// Every road from the client to the daemon and back, and how each failure
// on it reaches the user. `status` serves as the carrier.

#include <sys/stat.h>
#include <unistd.h>

#include "cli_fixture.hpp"
#include "zelko/ipc/daemon_io.hpp"

namespace zelko_test {
namespace {

class Exchange : public CliTest {
 protected:
  std::string socket_path() const { return runtime.path() + "/zelko/control.sock"; }
  std::string unreachable(const std::string& path, const std::string& error) const {
    return "zelko-cli: cannot reach derodi at " + path + ": " + error +
           "\nis the daemon running?\n";
  }
};

TEST_F(Exchange, RuntimeDirectoryUnsetOrEmpty) {
  const std::string message =
      "zelko-cli: XDG_RUNTIME_DIR is not set, so the control socket cannot be located\n";
  EXPECT_RUN(run_program(cli_path(), {"status"}, {"PATH=/usr/bin"}), "", message, 1);
  EXPECT_RUN(run_program(cli_path(), {"status"}, {"XDG_RUNTIME_DIR="}), "", message, 1);
}

TEST_F(Exchange, NoSocketFile) {
  EXPECT_RUN(run({"status"}), "",
             unreachable(socket_path(), "No such file or directory (os error 2)"), 1);
}

TEST_F(Exchange, SocketFileWithoutListenerOrNotASocket) {
  ASSERT_EQ(::mkdir((runtime / "zelko").c_str(), 0700), 0);
  const std::string refused = unreachable(socket_path(), "Connection refused (os error 111)");

  // A socket file whose listener has gone.
  ASSERT_TRUE(zelko_ipc::daemon::listen_unix(socket_path()));
  EXPECT_RUN(run({"status"}), "", refused, 1);

  ASSERT_EQ(::unlink(socket_path().c_str()), 0);
  write_file(socket_path(), "not a socket");
  EXPECT_RUN(run({"status"}), "", refused, 1);

  ASSERT_EQ(::unlink(socket_path().c_str()), 0);
  ASSERT_EQ(::mkdir(socket_path().c_str(), 0700), 0);
  EXPECT_RUN(run({"status"}), "", refused, 1);
}

TEST_F(Exchange, PathLengthLimit) {
  // "/zelko/control.sock" adds 19 bytes: 88 bytes make a 107-byte path, 89 a 108-byte one.
  const std::string base = runtime.path() + "/";
  const std::string fits = base + std::string(88 - base.size(), 'a');
  const std::string too_long = base + std::string(89 - base.size(), 'b');
  ASSERT_EQ(::mkdir(fits.c_str(), 0700), 0);
  ASSERT_EQ(::mkdir(too_long.c_str(), 0700), 0);
  ScriptedDaemon near_limit(fits, {frame("error\nreached")});
  EXPECT_RUN(run_program(cli_path(), {"status"}, {"XDG_RUNTIME_DIR=" + fits}), "",
             "zelko-cli: reached\n", 1);
  EXPECT_EQ(near_limit.connections(), 1);

  EXPECT_RUN(run_program(cli_path(), {"status"}, {"XDG_RUNTIME_DIR=" + too_long}), "",
             unreachable(too_long + "/zelko/control.sock", "path must be shorter than SUN_LEN"), 1);
}

TEST_F(Exchange, PathThatIsNotUtf8IsShownWithReplacements) {
  const std::string directory = runtime.path() + "/r\xff\xfe";
  EXPECT_RUN(run_program(cli_path(), {"status"}, {"XDG_RUNTIME_DIR=" + directory}), "",
             unreachable(runtime.path() + "/r\xef\xbf\xbd\xef\xbf\xbd/zelko/control.sock",
                         "No such file or directory (os error 2)"),
             1);
}

TEST_F(Exchange, RelativeRuntimeDirectoryResolvesAgainstTheWorkingDirectory) {
  // The program runs from the test's working directory; a relative value that
  // names nothing there fails with the relative path in the message.
  EXPECT_RUN(run_program(cli_path(), {"status"}, {"XDG_RUNTIME_DIR=no-such-rt"}), "",
             unreachable("no-such-rt/zelko/control.sock", "No such file or directory (os error 2)"),
             1);
}

// A broken answer (each kind has its message in the exchange's own tests)
// reaches the user as one line, after one connection and one request.
TEST_F(Exchange, BrokenAnswers) {
  const std::pair<std::string, std::string> rows[] = {
      {std::string("\0\x10\0\x01", 4) + "status", "the daemon sent an oversized answer"},
      {frame("status\na\tb\xff\tc\td\te"), "the answer was not UTF-8"},
      {frame("status\n"), "control record has the wrong shape"},
  };
  for (const auto& [reply, message] : rows) {
    serve({reply});
    EXPECT_RUN(run({"status"}), "", "zelko-cli: " + message + "\n", 1);
    EXPECT_EQ(connections(), 1);
    EXPECT_EQ(received(), frame("status"));
  }
}

TEST_F(Exchange, DaemonThatHangsUpAtOnce) {
  serve({.reply = "", .read_request = false});
  const RunResult result = run({"status"});
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.status, 1);
  // Depending on timing the request is refused or goes out and no answer comes.
  EXPECT_TRUE(result.err == "zelko-cli: cannot send the request: Broken pipe (os error 32)\n" ||
              result.err ==
                  "zelko-cli: cannot send the request: Connection reset by peer (os error 104)\n" ||
              result.err == "zelko-cli: no answer from derodi: failed to fill whole buffer\n" ||
              result.err ==
                  "zelko-cli: no answer from derodi: Connection reset by peer (os error 104)\n")
      << result.err;
}

TEST_F(Exchange, AnswerDrippedByteByByteArrivesWhole) {
  serve({.reply = frame("error\nslow but whole"), .drip = std::chrono::milliseconds(5)});
  EXPECT_RUN(run({"status"}), "", "zelko-cli: slow but whole\n", 1);
}

TEST_F(Exchange, BytesAfterTheAnnouncedBodyAreNeverRead) {
  serve({frame("error\nfirst answer") + frame("error\nsecond") + "\xff\xff"});
  EXPECT_RUN(run({"status"}), "", "zelko-cli: first answer\n", 1);
}

}  // namespace
}  // namespace zelko_test
