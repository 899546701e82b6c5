// SPDX-License-Identifier: MIT
// derodi-sim against what a real daemon meets: SSH clients that would
// change the phone's keys or send nothing, an ssh login, job control,
// two sims started at once, and key generations that are abandoned.

#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>

#include "cli_fixture.hpp"
#include "running_sim.hpp"
#include "zelko/ipc/daemon_io.hpp"
#include "zelko/ipc/frame.hpp"
#include "zelko/ipc/io.hpp"
#include "zelko/ipc/unix_socket.hpp"

namespace zelko_test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class DerodiSimClients : public SimTest {};

// Sends one agent message and returns the reply, or "(none)" when none
// comes within two seconds.
std::string agent_exchange(int fd, const std::string& message) {
  if (!zelko_ipc::write_all(fd, zelko_ipc::make_frame(message))) {
    return "(none)";
  }
  const auto reply = zelko_ipc::daemon::read_frame(fd, 1 << 20, Clock::now() + 2s);
  return reply ? *reply : "(none)";
}

std::size_t line_count(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

TEST_F(DerodiSimClients, AgentClientsCannotChangeOrWedgeIt) {
  RunningSim sim;
  const auto agent = zelko_ipc::connect_unix(sim.agent_socket());
  ASSERT_TRUE(agent);
  // Empty, add, remove, remove all, lock, unlock, add constrained: refused.
  const std::string failure(1, '\x05');
  for (const std::string& message :
       {std::string(), std::string("\x11"), std::string("\x12\0\0\0\0", 5), std::string("\x13"),
        std::string("\x16\0\0\0\x02pw", 7), std::string("\x17\0\0\0\x02pw", 7),
        std::string("\x19")}) {
    EXPECT_EQ(agent_exchange(agent->get(), message), failure) << int(message[0]);
  }
  const RunResult removed = sim.tool({"ssh-add", "-D"});
  EXPECT_NE(removed.status, 0) << removed.out << removed.err;
  const RunResult listed = sim.tool({"ssh-add", "-l"});
  const RunResult keys = sim.cli({"keys"});
  EXPECT_EQ(line_count(listed.out), 3u) << listed.out << listed.err;
  EXPECT_EQ(line_count(keys.out), 3u) << keys.out;

  // An idle connection (ssh keeps one for a session) does not hold up the stop.
  const auto start = Clock::now();
  EXPECT_EQ(sim.stop(SIGTERM), 0);
  EXPECT_LT(Clock::now() - start, 1500ms);
}

// A shell's "kill %1" or Ctrl-C signals the sim's whole process group: the
// sim stops cleanly, and its agent with it.
TEST_F(DerodiSimClients, SignalToItsProcessGroupStopsItCleanly) {
  RunningSim sim(SimStart{{}, {}, true});
  const auto agents = sim.agents();
  ASSERT_EQ(agents.size(), 1u);
  ::kill(-sim.pid(), SIGTERM);
  EXPECT_EQ(sim.wait(), 0) << sim.log();
  EXPECT_NE(sim.log().find("derodi-sim: stopped"), std::string::npos) << sim.log();
  EXPECT_TRUE(still_running(agents).empty());
}

TEST_F(DerodiSimClients, TwoStartedTogetherLeaveOneServing) {
  struct Row {
    bool shared_runtime;  // else two runtime directories and one new state directory
    std::string loser_says;
  };
  for (const Row& row : {Row{true, "a daemon already answers on"},
                         Row{false, "another derodi-sim holds the state directory"}}) {
    const TempDir runtimes[2];
    const TempDir state;
    std::optional<RunningSim> sims[2];
    std::string failures[2];
    std::thread starts[2];
    for (int i = 0; i < 2; ++i) {
      starts[i] = std::thread([&, i] {
        try {
          SimStart start{{}, runtimes[row.shared_runtime ? 0 : i].path(), false};
          if (!row.shared_runtime) {
            start.flags = {"--state-dir", state / "new"};
          }
          sims[i].emplace(start);
        } catch (const std::exception& failure) {
          failures[i] = failure.what();
        }
      });
    }
    for (std::thread& start : starts) {
      start.join();
    }
    ASSERT_NE(sims[0].has_value(), sims[1].has_value()) << failures[0] << failures[1];
    const RunningSim& winner = sims[0] ? *sims[0] : *sims[1];
    EXPECT_NE((failures[0] + failures[1]).find(row.loser_says), std::string::npos)
        << failures[0] << failures[1];
    const RunResult made =
        winner.cli({"generate", "--type", "ed25519", "--name", "after-the-race"});
    EXPECT_EQ(made.status, 0) << made.err;
  }
}

// An RSA key of 16384 bits takes ssh-keygen minutes: a client that leaves,
// or a stop, ends it at once, and its files go with it.
TEST_F(DerodiSimClients, AbandonedGenerationsLeaveNothing) {
  RunningSim sim;
  // A key is made aside, in a directory of its own, until it is whole;
  // ssh-keygen works in the state directory.
  const std::string state = sim.runtime_dir() + "/zelko/sim-state";
  const std::vector<std::string> generate = {"generate", "--type", "rsa", "--bits",
                                             "16384",    "--name", "huge"};
  // What a generation leaves: its files, once its ssh-keygen is gone.
  const auto leftovers = [&] {
    std::string names;
    for (const auto& entry : std::filesystem::directory_iterator(state)) {
      const std::string name = entry.path().filename();
      if (name.starts_with(".making.") || name.starts_with("generated-")) {
        names += name + " ";
      }
    }
    return names;
  };
  const auto generators = [&] { return descendants(sim.pid(), "ssh-keygen"); };
  EXPECT_EQ(run_program(cli_path(), generate, sim.environment(), 1).status, -1);
  for (int i = 0; i < 50 && !(generators().empty() && leftovers().empty()); ++i) {
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_TRUE(generators().empty());
  EXPECT_EQ(leftovers(), "");

  std::thread pending([&] { (void)sim.cli(generate); });
  for (int i = 0; i < 100 && generators().empty(); ++i) {
    std::this_thread::sleep_for(20ms);
  }
  const auto generating = generators();
  EXPECT_FALSE(generating.empty());
  const auto start = Clock::now();
  EXPECT_EQ(sim.stop(SIGTERM), 0);
  EXPECT_LT(Clock::now() - start, 1500ms);
  pending.join();
  EXPECT_TRUE(still_running(generating).empty());
  EXPECT_TRUE(sim.phone_said("approved, then cancelled, the sim is stopping",
                             "key generation of 'huge' (rsa)"))
      << sim.log();
}

// An ssh login through the agent endpoint, to an sshd that ssh starts
// itself (no port, no root): refused outside a window, accepted inside
// one; the phone names the destination as the user's known_hosts does,
// from a plain entry and from a hashed one, and ssh by its executable.
TEST_F(DerodiSimClients, SshLoginIsThePhonesToApprove) {
  const std::string sshd = "/usr/sbin/sshd";
  if (::access(sshd.c_str(), X_OK) != 0) {
    GTEST_SKIP() << "sshd is not installed (openssh-server)";
  }
  if (::geteuid() == 0 && ::access("/run/sshd", F_OK) != 0) {
    GTEST_SKIP() << "sshd run as root needs /run/sshd";
  }
  const TempDir ssh;
  ASSERT_EQ(run_program("/usr/bin/env",
                        {"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", ssh / "host"},
                        {search_path()})
                .status,
            0);
  SimStart start = trusting_localhost({"--refuse-signatures"});
  start.known_hosts = "# the user's hosts\nlocalhost " + read_file(ssh / "host.pub");
  RunningSim sim(start);
  const std::string known_hosts = sim.home() + "/.ssh/known_hosts";
  ASSERT_EQ(sim.cli({"getpub", "work", "--out", ssh / "authorized"}).status, 0);
  // Paths as OpenSSH's configuration lines and ProxyCommand's shell take
  // them whole, blanks and all.
  const auto quoted = [](const std::string& path, char quote) { return quote + path + quote; };
  write_file(ssh / "sshd_config", "HostKey " + quoted(ssh / "host", '"') + "\nAuthorizedKeysFile " +
                                      quoted(ssh / "authorized", '"') +
                                      "\nStrictModes no\nUsePAM no\n");
  // ssh given its own known_hosts file, or the user's.
  const auto login_with = [&](const std::string& hosts) -> std::vector<std::string> {
    return {"ssh",
            "-F",
            "/dev/null",
            "-o",
            "ProxyCommand=" + sshd + " -i -f " + quoted(ssh / "sshd_config", '\''),
            "-o",
            "UserKnownHostsFile=" + quoted(hosts, '"'),
            "-o",
            "BatchMode=yes",
            "-o",
            "PreferredAuthentications=publickey",
            "localhost",
            "true"};
  };
  const auto login = login_with(known_hosts);
  EXPECT_NE(sim.tool(login).status, 0);
  ASSERT_EQ(sim.cli({"authorize", "--minutes", "5"}).status, 0);
  const RunResult plain = sim.tool(login);
  EXPECT_EQ(plain.status, 0) << plain.err;
  ASSERT_EQ(sim.tool({"ssh-keygen", "-q", "-H", "-f", known_hosts}).status, 0);
  ASSERT_EQ(read_file(known_hosts).find("localhost"), std::string::npos);
  const RunResult hashed = sim.tool(login);
  EXPECT_EQ(hashed.status, 0) << hashed.err;

  const std::string user = ::getpwuid(::geteuid())->pw_name;
  const std::string asked =
      ": ssh login as '" + user + "' to 'localhost' (host key verified, known_hosts line 2), " +
      "asked by 'ssh' ('" + std::filesystem::canonical(find_on_path("ssh")).string() + "', pid ";
  EXPECT_TRUE(sim.phone_said("refused outside a window", asked)) << asked << " in " << sim.log();
  EXPECT_TRUE(sim.phone_said("approved by the window", asked)) << asked << " in " << sim.log();
  // Refused once, then approved for the plain entry and the hashed one.
  EXPECT_EQ(occurrences(sim.log_with(asked, 3), asked), 3u) << sim.log();

  // known_hosts as ssh reads it: CR LF line ends; a revoked key, which no
  // window approves; a FIFO, which holds nothing up.
  const std::string host_key = read_file(ssh / "host.pub");
  write_file(known_hosts, "localhost " + host_key.substr(0, host_key.size() - 1) + "\r\n");
  EXPECT_EQ(sim.tool(login).status, 0);
  EXPECT_TRUE(sim.phone_said("approved by the window",
                             "'localhost' (host key verified, known_hosts line 1)"))
      << sim.log();
  // ssh itself would refuse a revoked key, so it reads a file of its own.
  write_file(ssh / "known_hosts", "localhost " + host_key);
  write_file(known_hosts, "localhost " + host_key + "@revoked * " + host_key);
  EXPECT_NE(sim.tool(login_with(ssh / "known_hosts")).status, 0);
  EXPECT_TRUE(sim.phone_said("refused, outside the window's scope",
                             "to '*' (host key REVOKED in known_hosts line 2)"))
      << sim.log();
  std::filesystem::remove(known_hosts);
  ASSERT_EQ(::mkfifo(known_hosts.c_str(), 0600), 0);
  EXPECT_NE(sim.tool(login_with(ssh / "known_hosts")).status, 0);
  EXPECT_TRUE(sim.phone_said("refused, outside the window's scope", "to a host not in known_hosts"))
      << sim.log();
  EXPECT_NE(sim.log_with("is not a regular file").find("known_hosts': it is not a regular file"),
            std::string::npos)
      << sim.log();
  const auto stopping = Clock::now();
  EXPECT_EQ(sim.stop(SIGTERM), 0);
  EXPECT_LT(Clock::now() - stopping, 1s);
}

}  // namespace
}  // namespace zelko_test
