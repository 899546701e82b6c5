// SPDX-License-Identifier: MIT
// derodi-sim as a daemon that is left running: clients served side by side,
// one sim per runtime directory, a stop that is prompt and grants nothing,
// no agent left behind, and a phone that decides about signatures.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "cli_fixture.hpp"
#include "running_sim.hpp"
#include "zelko/ipc/frame.hpp"
#include "zelko/ipc/unix_socket.hpp"

namespace zelko_test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

long milliseconds_since(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// The benchmark-style figure: printed, not asserted.
class DerodiSimLife : public SimTest {};

TEST_F(DerodiSimLife, ServesOneClientWhileOthersStall) {
  RunningSim sim(trusting_localhost({"--approval-delay", "2"}));
  std::vector<zelko_ipc::Fd> silent;
  for (int i = 0; i < 3; ++i) {
    silent.push_back(std::move(*zelko_ipc::connect_unix(sim.control_socket())));
  }
  std::thread dripping([&] {
    const auto drip = zelko_ipc::connect_unix(sim.control_socket());
    for (const char byte : zelko_ipc::make_frame("status").substr(0, 4)) {
      ::send(drip->get(), &byte, 1, MSG_NOSIGNAL);
      std::this_thread::sleep_for(1s);
    }
  });
  RunResult window;
  std::thread pending([&] { window = sim.cli({"authorize", "--minutes", "5"}); });
  std::this_thread::sleep_for(200ms);

  const auto start = Clock::now();
  const RunResult status = sim.cli({"status"});
  const long took = milliseconds_since(start);
  std::printf(
      "status answered in %ld ms beside 3 silent clients, a dripping one and a pending "
      "approval\n",
      took);
  EXPECT_EQ(status.status, 0) << status.err;
  EXPECT_TRUE(status.out.starts_with("agent endpoint  " + sim.agent_socket())) << status.out;
  pending.join();
  dripping.join();
  EXPECT_EQ(window.out, "authorized: destination 'localhost' and git signatures\n") << window.err;
}

TEST_F(DerodiSimLife, OneSimPerRuntimeDirectory) {
  RunningSim first;
  const RunResult second = run_program(sim_path(), {}, first.environment());
  EXPECT_RUN(second, "", "derodi-sim: a daemon already answers on " + first.control_socket() + "\n",
             1);
  EXPECT_EQ(first.cli({"devices"}).status, 0);
}

TEST_F(DerodiSimLife, StopsAtOnceMidApprovalAndGrantsNothing) {
  RunningSim sim(trusting_localhost({"--approval-delay", "30"}));
  RunResult window;
  std::thread pending([&] { window = sim.cli({"authorize", "--minutes", "5"}); });
  std::this_thread::sleep_for(300ms);
  const auto started = descendants(sim.pid());
  ASSERT_FALSE(started.empty());
  const auto start = Clock::now();
  EXPECT_EQ(sim.stop(SIGTERM), 0);
  std::printf("stopped %ld ms after SIGTERM, mid-approval\n", milliseconds_since(start));
  pending.join();
  EXPECT_EQ(window.status, 1);
  EXPECT_EQ(window.out, "");
  EXPECT_TRUE(still_running(started).empty());
}

TEST_F(DerodiSimLife, NoAgentOutlivesTheSim) {
  RunningSim sim;
  const auto agents = sim.agents();
  ASSERT_EQ(agents.size(), 1u);
  EXPECT_EQ(sim.stop(SIGKILL), -1);
  for (int i = 0; i < 100 && !still_running(agents).empty(); ++i) {
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_TRUE(still_running(agents).empty());
}

// A stopped agent (as SIGTTOU or a debugger leaves it) holds up neither
// the stop nor outlives it.
TEST_F(DerodiSimLife, AStoppedAgentDoesNotHoldUpTheStop) {
  RunningSim sim;
  const auto agents = sim.agents();
  ASSERT_EQ(agents.size(), 1u);
  ::kill(agents[0], SIGSTOP);
  const auto start = Clock::now();
  EXPECT_EQ(sim.stop(SIGTERM), 0);
  EXPECT_LT(Clock::now() - start, 3s);
  EXPECT_TRUE(still_running(agents).empty());
}

TEST_F(DerodiSimLife, AnAgentThatDiesStopsTheSim) {
  RunningSim sim;
  const auto agents = sim.agents();
  ASSERT_EQ(agents.size(), 1u);
  ::kill(agents[0], SIGKILL);
  EXPECT_EQ(sim.wait(), 1);
}

TEST_F(DerodiSimLife, AClientThatLeavesCancelsItsRequest) {
  RunningSim sim({"--approval-delay", "2"});
  // Killed after a second, while the phone still has the request.
  const RunResult gone =
      run_program(cli_path(), {"generate", "--name", "abandoned"}, sim.environment(), 1);
  EXPECT_EQ(gone.status, -1);
  std::this_thread::sleep_for(1500ms);
  const RunResult keys = sim.cli({"keys"});
  EXPECT_EQ(keys.status, 0);
  EXPECT_EQ(keys.out.find("abandoned"), std::string::npos) << keys.out;
}

// Signatures through the endpoint ask the phone: refused outside a window,
// let through at once inside one, when the window covers them (git
// signatures do, other namespaces do not); the phone says what each was.
TEST_F(DerodiSimLife, SignaturesNeedAWindowThatCoversThem) {
  RunningSim sim(trusting_localhost({"--refuse-signatures"}));
  TempDir scratch;
  const std::string key = scratch / "work.pub";
  ASSERT_EQ(sim.cli({"getpub", "work", "--out", key}).status, 0);
  write_file(scratch / "message", "signed by the phone\n");
  const auto sign = [&](const std::string& name_space) {
    return sim.tool({"ssh-keygen", "-Y", "sign", "-f", key, "-n", name_space, scratch / "message"});
  };
  EXPECT_NE(sign("git").status, 0);
  EXPECT_EQ(sim.cli({"authorize", "--minutes", "5"}).status, 0);
  EXPECT_NE(sign("file").status, 0);
  const RunResult signed_now = sign("git");
  ASSERT_EQ(signed_now.status, 0) << signed_now.err;
  write_file(scratch / "allowed", "me@example.com " + read_file(key));
  const RunResult verified = sim.tool({"sh", "-c",
                                       "ssh-keygen -Y verify -f \"$1\" -I me@example.com -n git "
                                       "-s \"$2.sig\" < \"$2\"",
                                       "verify", scratch / "allowed", scratch / "message"});
  EXPECT_EQ(verified.status, 0) << verified.err;
  const std::string git = ": SSHSIG signature in namespace 'git', asked by 'ssh-keygen' (";
  const std::string file = ": SSHSIG signature in namespace 'file', asked by 'ssh-keygen' (";
  EXPECT_TRUE(sim.phone_said("refused outside a window", git)) << sim.log();
  EXPECT_TRUE(sim.phone_said("approved by the window", git)) << sim.log();
  EXPECT_TRUE(sim.phone_said("refused, outside the window's scope", file)) << sim.log();
}

}  // namespace
}  // namespace zelko_test
