// SPDX-License-Identifier: MIT
// zelko-cli against the stand-in daemon: real keys, a real ssh-agent, and a
// daemon that must survive whatever a client sends it.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <sstream>
#include <thread>

#include "cli_fixture.hpp"
#include "running_sim.hpp"
#include "zelko/ipc/frame.hpp"
#include "zelko/ipc/messages.hpp"
#include "zelko/ipc/unix_socket.hpp"

namespace zelko_test {
namespace {

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    result.push_back(line);
  }
  return result;
}

std::string word(const std::string& text, std::size_t n) {
  std::istringstream in(text);
  std::string w;
  for (std::size_t i = 0; i <= n; ++i) {
    in >> w;
  }
  return w;
}

// One simulator for the suite: starting it makes real keys.
class DerodiSim : public SimTest {
 protected:
  static void SetUpTestSuite() {
    if (missing_tool().empty()) {
      s_sim = std::make_unique<RunningSim>(trusting_localhost());
    }
  }
  static void TearDownTestSuite() { s_sim.reset(); }
  static const RunningSim& sim() { return *s_sim; }

  // Sends raw bytes on a fresh connection and returns what comes back.
  static std::string raw_exchange(const std::string& bytes, bool close_early = false) {
    auto connection = zelko_ipc::connect_unix(sim().control_socket());
    EXPECT_TRUE(connection) << connection.error();
    const int fd = connection ? connection->get() : -1;
    ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    std::string reply;
    if (!close_early) {
      ::shutdown(fd, SHUT_WR);
      char chunk[4096];
      ssize_t got;
      while ((got = ::recv(fd, chunk, sizeof chunk, 0)) > 0) {
        reply.append(chunk, static_cast<std::size_t>(got));
      }
    }
    return reply;
  }

  static inline std::unique_ptr<RunningSim> s_sim;
};

TEST_F(DerodiSim, EveryKeyAgreesWithSshKeygenAndTheAgent) {
  const RunResult listing = sim().cli({"keys"});
  ASSERT_EQ(listing.status, 0) << listing.err;
  const RunResult agent_keys = sim().tool({"ssh-add", "-L"});
  ASSERT_EQ(agent_keys.status, 0) << agent_keys.err;
  const auto names = lines(listing.out);
  ASSERT_GE(names.size(), 3u);
  TempDir scratch;
  for (const std::string& line : names) {
    const std::string name = line.substr(0, line.find('\t'));
    const std::string file = scratch / (name + ".pub");
    ASSERT_EQ(sim().cli({"getpub", name, "--out", file}).status, 0) << name;
    const RunResult computed = sim().tool({"ssh-keygen", "-l", "-E", "sha256", "-f", file});
    ASSERT_EQ(computed.status, 0) << computed.err;
    const RunResult fingerprint = sim().cli({"fingerprint", name});
    EXPECT_EQ(fingerprint.out, word(computed.out, 1) + " " + name + "\n");
    EXPECT_NE(agent_keys.out.find(read_file(file)), std::string::npos) << name;
  }
}

TEST_F(DerodiSim, ListingMatchesSshAddFingerprints) {
  const RunResult listing = sim().cli({"keys", "--long"});
  const RunResult agent = sim().tool({"ssh-add", "-l"});
  ASSERT_EQ(agent.status, 0);
  for (const std::string& line : lines(listing.out)) {
    const std::string fingerprint = line.substr(line.find("SHA256:"), 50);
    EXPECT_NE(agent.out.find(fingerprint.substr(0, fingerprint.find('\t'))), std::string::npos)
        << line;
  }
}

TEST_F(DerodiSim, GeneratedKeyIsListedAndInTheAgent) {
  const RunResult made = sim().cli({"generate", "--name", "made-in-test"});
  ASSERT_EQ(made.status, 0) << made.err;
  EXPECT_TRUE(made.out.starts_with("ssh-ed25519 "));
  const std::string fingerprint = word(made.err.substr(made.err.find("generated '")), 2);
  EXPECT_TRUE(fingerprint.starts_with("SHA256:")) << made.err;
  EXPECT_NE(sim().cli({"keys"}).out.find("made-in-test\tssh-ed25519\n"), std::string::npos);
  EXPECT_EQ(sim().cli({"fingerprint", "made-in-test"}).out, fingerprint + " made-in-test\n");
  EXPECT_NE(sim().tool({"ssh-add", "-l"}).out.find(fingerprint), std::string::npos);

  const RunResult again = sim().cli({"generate", "--name", "made-in-test"});
  EXPECT_EQ(again.err.substr(again.err.find("zelko-cli: ")),
            "zelko-cli: a key named 'made-in-test' already exists\n");
  const RunResult odd = sim().cli({"generate", "--type", "dsa", "--name", "x"});
  EXPECT_NE(odd.err.find("unsupported key type 'dsa'"), std::string::npos);
}

TEST_F(DerodiSim, StatusKnowsThisShellAndTheWindow) {
  const RunResult status = sim().cli({"status"}, true);
  ASSERT_EQ(status.status, 0);
  EXPECT_TRUE(status.out.starts_with("agent endpoint  " + sim().agent_socket() +
                                     "\nthis shell      Zelko\n"))
      << status.out;
  EXPECT_EQ(sim().cli({"authorize", "--minutes", "30"}).out,
            "authorized: destination 'localhost' and git signatures\n");
  const RunResult after = sim().cli({"status"});
  EXPECT_NE(after.out.find("window          destination 'localhost' and git signatures; expires "),
            std::string::npos)
      << after.out;
  EXPECT_NE(after.out.find("(30 min left)"), std::string::npos) << after.out;
}

TEST_F(DerodiSim, DevicesAndUnknownKeys) {
  EXPECT_EQ(sim().cli({"devices"}).out,
            "Pixel 8 (simulated)\tpaired 2026-11-02, connected\tactive\n"
            "Old phone\tpaired 2025-01-10, lost\trevoked\n");
  EXPECT_EQ(sim().cli({"getpub", "nope"}).err, "zelko-cli: no key named 'nope' on the phone\n");
}

TEST_F(DerodiSim, SurvivesGarbageAndServesTheNextClient) {
  std::mt19937 random(42);
  std::string noise(3000, '\0');
  for (char& c : noise) {
    c = static_cast<char>(random());
  }
  raw_exchange(noise);
  raw_exchange(std::string("\0\x10\0\x01", 4) + "status");    // above 1 MiB
  raw_exchange(std::string("\0\0\0\x40", 4) + "stat", true);  // closed mid-frame
  raw_exchange(std::string("\0\0", 2), true);
  EXPECT_EQ(raw_exchange(zelko_ipc::make_frame("hello")),
            zelko_ipc::make_frame("error\nunknown control request"));
  EXPECT_EQ(raw_exchange(zelko_ipc::make_frame("keys\xff")),
            zelko_ipc::make_frame("error\nrequest is not UTF-8"));
  EXPECT_EQ(raw_exchange(zelko_ipc::make_frame("authorize\nlots")),
            zelko_ipc::make_frame("error\nbad request argument"));
  EXPECT_EQ(sim().cli({"devices"}).status, 0);
}

TEST_F(DerodiSim, NamesAreChecked) {
  using zelko_ipc::ControlRequest;
  const std::string k_formatting =
      "a key name must not hold invisible formatting characters or line separators";
  const std::pair<std::string, std::string> rows[] = {
      {"", "a key name must not be empty"},
      {" \t\xe3\x80\x80", "a key name must hold more than white space"},
      {"two\nlines", "a key name must not hold control characters"},
      {"bell\x07", "a key name must not hold control characters"},
      {"c1\xc2\x85", "a key name must not hold control characters"},
      {"\u202eevil", k_formatting},  // right-to-left override
      {"a\u2066b", k_formatting},    // left-to-right isolate
      {"line\u2028two", k_formatting},
      {"\u200b\ufeff", k_formatting},  // zero width, byte-order mark
      {"\u3164", k_formatting},        // a filler
      {"work\ufe0f", k_formatting},    // a variation selector
      {std::string(65, 'n'), "a key name must be at most 64 characters long"},
  };
  for (const auto& [name, message] : rows) {
    const std::string expected = zelko_ipc::make_frame("error\n" + message);
    EXPECT_EQ(raw_exchange(zelko_ipc::make_frame(
                  ControlRequest{ControlRequest::Generate{"ed25519", 0, name}}.encode())),
              expected)
        << name;
    EXPECT_EQ(
        raw_exchange(zelko_ipc::make_frame(ControlRequest{ControlRequest::GetPub{name}}.encode())),
        expected)
        << name;
  }
  EXPECT_EQ(sim().cli({"keys"}).out.find("two"), std::string::npos);
}

class DerodiSimBehaviour : public SimTest {};

TEST_F(DerodiSimBehaviour, StaleMetadataAndTrustedDestinations) {
  RunningSim sim({"--stale"});
  const RunResult keys = sim.cli({"keys", "--long"});
  EXPECT_NE(keys.out.find("\tSTALE\n"), std::string::npos);
  EXPECT_EQ(sim.cli({"getpub", "work"}).err,
            "zelko-cli: key metadata is STALE\n\nConnect your Zelko phone to refresh the key "
            "database.\n");
  const RunResult window = sim.cli({"authorize", "--minutes", "5"});
  EXPECT_EQ(window.status, 1);
  EXPECT_NE(window.err.find("trusted destination has been confirmed on the phone yet\n\nA window "
                            "can only cover destinations"),
            std::string::npos)
      << window.err;
  // A destination to trust that known_hosts does not name stops the start.
  const TempDir runtime;
  EXPECT_RUN(run_program(sim_path(), {"--trust-destination", "nowhere"},
                         {"XDG_RUNTIME_DIR=" + runtime.path(), "HOME=" + sim.home()}),
             "",
             "derodi-sim: --trust-destination 'nowhere': no host key for it in '" + sim.home() +
                 "/.ssh/known_hosts' nor '/etc/ssh/ssh_known_hosts'\n",
             1);
  EXPECT_TRUE(std::filesystem::is_empty(runtime.path()));
}

TEST_F(DerodiSimBehaviour, RefusedApprovals) {
  RunningSim sim({"--refuse", "--approval-delay", "1"});
  const RunResult made = sim.cli({"generate", "--name", "k"});
  EXPECT_EQ(made.err,
            "approve the request on the phone...\nzelko-cli: the request was declined on the "
            "phone\n");
  EXPECT_EQ(sim.cli({"authorize", "--minutes", "1"}).status, 1);
}

// Every signal that would end it (a terminal that closes, Ctrl-C, the quit
// key, kill, and those whose default is to end a process) stops it
// cleanly, its agent with it; so it does when started with no standard
// descriptor open.
TEST_F(DerodiSimBehaviour, StopsCleanlyOnEveryStopSignal) {
  for (const int signal : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM}) {
    SimStart start;
    start.no_standard_descriptors = signal == SIGUSR1;
    RunningSim sim(start);
    const auto agents = sim.agents();
    EXPECT_EQ(run_program("/usr/bin/env", {"ssh-add", "-l"}, sim.environment(true)).status, 0);
    EXPECT_EQ(sim.stop(signal), 0) << signal;
    EXPECT_TRUE(start.no_standard_descriptors ||
                sim.log().find("derodi-sim: stopped") != std::string::npos)
        << signal << sim.log();
    EXPECT_TRUE(still_running(agents).empty()) << signal;
    // No socket, and no private key, is left behind.
    EXPECT_TRUE(std::filesystem::is_empty(sim.runtime_dir() + "/zelko")) << signal;
    // ssh-add exits with 2 when it cannot reach an agent.
    EXPECT_EQ(run_program("/usr/bin/env", {"ssh-add", "-l"}, sim.environment(true)).status, 2);
  }
}

// Started from a session with an agent of the user's own, or with the
// README's profile line pointing SSH_AUTH_SOCK at the endpoint to be, the
// sim works the same, and the user's agent keeps exactly its own key.
TEST_F(DerodiSimBehaviour, LeavesTheUsersOwnAgentAlone) {
  const UserAgent user;
  const std::string before = user.keys();
  ASSERT_NE(before.find("SHA256:"), std::string::npos) << before;
  for (const bool profile_line : {false, true}) {
    const TempDir runtime;
    std::vector<std::string> session = user.environment();
    if (profile_line) {
      session[0] = "SSH_AUTH_SOCK=" + runtime / "zelko/agent.sock";
    }
    const RunningSim sim(SimStart{.runtime_dir = runtime.path(), .environment = session});
    EXPECT_EQ(sim.cli({"generate", "--name", "mine"}).status, 0);
    EXPECT_EQ(lines(sim.tool({"ssh-add", "-l"}).out).size(), 4u) << profile_line;
  }
  EXPECT_EQ(user.keys(), before);
}

// A runtime directory, or a state directory, that is not the sim's own
// along its whole path stops it with one line, before it touches anything.
TEST_F(DerodiSimBehaviour, TrustsOnlyDirectoriesOfItsOwn) {
  const std::string uid = std::to_string(::geteuid());
  for (const std::string row : {"open", "open parent", "link to open", "foreign", "state",
                                "foreign link, sticky", "link in a foreign directory", "proc"}) {
    if (row.starts_with("foreign") || row.ends_with("directory")) {
      if (::geteuid() != 0) {
        std::printf("skipped: %s: another user's files need root to make\n", row.c_str());
        continue;
      }
    }
    const TempDir top;
    std::string runtime = top.path();
    const std::string elsewhere = top / "elsewhere";
    ASSERT_EQ(::mkdir(elsewhere.c_str(), 0700), 0);
    std::vector<std::string> flags;
    std::string why = "others can write to it (mode 0777)";
    if (row == "open parent") {
      runtime = top / "shared";
      ASSERT_EQ(::mkdir(runtime.c_str(), 0700), 0);
      ASSERT_EQ(::chmod(runtime.c_str(), 0777), 0);
      why = "others can write to " + runtime + " (mode 0777), which is not sticky";
    }
    const std::string zelko = runtime + "/zelko";
    std::string refused = zelko;
    if (row == "open") {
      ASSERT_EQ(::mkdir(zelko.c_str(), 0700), 0);
      ASSERT_EQ(::chmod(zelko.c_str(), 0777), 0);
    } else if (row == "link to open") {
      ASSERT_EQ(::chmod(elsewhere.c_str(), 0777), 0);
      ASSERT_EQ(::symlink(elsewhere.c_str(), zelko.c_str()), 0);
      why = "others can write to " + elsewhere + " (mode 0777)";
    } else if (row == "foreign") {
      ASSERT_EQ(::mkdir(zelko.c_str(), 0700), 0);
      ASSERT_EQ(::chown(zelko.c_str(), 65534, 65534), 0);
      why = "it belongs to uid 65534, not to uid " + uid;
    } else if (row == "state") {
      ASSERT_EQ(::chmod(elsewhere.c_str(), 0777), 0);
      flags = {"--state-dir", elsewhere};
      refused = elsewhere;
    } else if (row == "proc") {
      runtime = "/proc/self/cwd";
      refused = runtime + "/zelko";
      why = "/proc is on /proc, the processes' file system";
    } else if (row != "open parent") {
      // Another user's link to the user's own directory, in a sticky
      // directory, or in a directory of hers.
      const std::string shared = top / "shared";
      ASSERT_EQ(::mkdir(shared.c_str(), 0700), 0);
      ASSERT_EQ(::chmod(shared.c_str(), row.ends_with("sticky") ? 01777 : 0755), 0);
      runtime = shared + "/rt";
      ASSERT_EQ(::symlink(elsewhere.c_str(), runtime.c_str()), 0);
      ASSERT_EQ(::lchown(runtime.c_str(), 65534, 65534), 0);
      why = runtime + " is a symbolic link of uid 65534, neither root's nor uid " + uid + "'s";
      if (!row.ends_with("sticky")) {
        ASSERT_EQ(::chown(shared.c_str(), 65534, 65534), 0);
        why = shared + " belongs to uid 65534, neither to root nor to uid " + uid;
      }
      refused = runtime + "/zelko";
    }
    const RunResult run = run_program(sim_path(), flags, {"XDG_RUNTIME_DIR=" + runtime});
    EXPECT_RUN(run, "", "derodi-sim: " + refused + " is not safe to use: " + why + "\n", 1);
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere)) << row;
    EXPECT_EQ(std::filesystem::exists(zelko),
              row == "open" || row == "link to open" || row == "foreign")
        << row;
  }
  // The user's own link in a sticky directory is followed, through a
  // directory it may search but not list, and announced as given.
  const TempDir top;
  ASSERT_EQ(::chmod(top.path().c_str(), 01777), 0);
  ASSERT_EQ(::mkdir((top / "unlisted").c_str(), 0700), 0);
  ASSERT_EQ(::mkdir((top / "unlisted/mine").c_str(), 0700), 0);
  ASSERT_EQ(::chmod((top / "unlisted").c_str(), 0300), 0);
  ASSERT_EQ(::symlink((top / "unlisted/mine").c_str(), (top / "rt").c_str()), 0);
  const RunningSim sim(SimStart{{}, top / "rt"});
  const std::string announced = "listening on " + top / "rt/zelko/control.sock";
  EXPECT_NE(sim.log_with(announced).find(announced), std::string::npos) << sim.log();
  ::chmod((top / "unlisted").c_str(), 0700);  // for the removal at the end
}

// A state directory named through a link (a trailing slash follows it) is
// the one it led to at the start: re-pointing the link later plants
// nothing anywhere, the key made meanwhile included.
TEST_F(DerodiSimBehaviour, ALinkIsFollowedOnceOnly) {
  const TempDir top;
  const std::string mine = top / "mine";
  const std::string theirs = top / "theirs";
  ASSERT_EQ(::mkdir(mine.c_str(), 0700), 0);
  ASSERT_EQ(::mkdir(theirs.c_str(), 0700), 0);
  ASSERT_EQ(::symlink(mine.c_str(), (top / "link").c_str()), 0);
  const RunningSim sim({"--state-dir", top / "link/"});
  ASSERT_EQ(::symlink(theirs.c_str(), (top / "new").c_str()), 0);
  ASSERT_EQ(::rename((top / "new").c_str(), (top / "link").c_str()), 0);
  EXPECT_EQ(sim.cli({"generate", "--name", "after"}).status, 0);
  EXPECT_TRUE(std::filesystem::is_empty(theirs));
  EXPECT_TRUE(std::filesystem::exists(mine + "/generated-1.pub"));
}

// A start on a state directory that holds every key runs no ssh-keygen
// (fingerprints are the sim's own work); a key file there whose name the
// phone would refuse is left out, saying which and why.
TEST_F(DerodiSimBehaviour, AFilledStateDirectoryIsReadAsItIs) {
  const TempDir state;
  { const RunningSim first({"--state-dir", state.path()}); }
  ASSERT_EQ(run_program("/usr/bin/env",
                        {"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-C",
                         "evil\x1b[2J@zelko-phone", "-f", state / "generated-1"},
                        {search_path()})
                .status,
            0);
  const TempDir tools;
  write_file(tools / "ssh-keygen", "#!/bin/sh\ntouch \"" + tools / "ran" + "\"\nexit 1\n");
  ASSERT_EQ(::chmod((tools / "ssh-keygen").c_str(), 0755), 0);
  const char* path = std::getenv("PATH");
  const RunningSim sim(
      SimStart{.flags = {"--state-dir", state.path()},
               .environment = {"PATH=" + tools.path() + ":" + (path ? path : "")}});
  const RunResult keys = sim.cli({"keys"});
  EXPECT_EQ(lines(keys.out).size(), 3u) << keys.out;
  EXPECT_EQ(keys.out.find('\x1b'), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(tools / "ran"));
  const std::string left_out = "derodi-sim: left out the key in " + state.path() +
                               "/generated-1: a key name must not hold control characters\n";
  EXPECT_EQ(occurrences(sim.log_with(left_out), left_out), 1u) << sim.log();
}

// A sim that cannot start says why, then lets a reader of its ready FIFO
// go, even one that opens it only afterwards.
TEST_F(DerodiSimBehaviour, AFailedStartEndsTheReadyFifo) {
  struct Row {
    std::vector<std::string> flags;
    std::string runtime;
    std::string says;
  };
  const TempDir top;
  const std::string deep = top.path() + "/" + std::string(100, 'd');
  ASSERT_EQ(::mkdir(deep.c_str(), 0700), 0);
  const Row rows[] = {
      {{"--approval-delay", "99999"}, top.path(), "'99999' is not a number of seconds"},
      {{},
       deep,
       "/zelko/control.sock is " + std::to_string(deep.size() + 19) +
           " bytes long, and a socket path can be at most 107"},
  };
  for (const Row& row : rows) {
    const std::string fifo = top / "ready";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::vector<std::string> flags = row.flags;
    flags.insert(flags.end(), {"--ready-file", fifo});
    RunResult run;
    std::thread sim(
        [&] { run = run_program(sim_path(), flags, {"XDG_RUNTIME_DIR=" + row.runtime}, 20); });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const zelko_ipc::Fd reader(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    pollfd ended{reader.get(), POLLIN, 0};
    EXPECT_EQ(::poll(&ended, 1, 5000), 1) << row.says;
    EXPECT_NE(ended.revents & POLLHUP, 0) << row.says;
    sim.join();
    EXPECT_NE(run.err.find(row.says), std::string::npos) << run.err;
    EXPECT_NE(run.status, 0);
    ::unlink(fifo.c_str());
  }
}

// --ready-file is written as a shell's ">" would: no name of the sim's own
// beside it that another user could have planted a link at.
TEST_F(DerodiSimBehaviour, ReadyFileLeavesPlantedLinksAlone) {
  const TempDir shared;
  const std::string ready = shared / "ready";
  write_file(shared / "precious", "precious\n");
  ASSERT_EQ(::symlink((shared / "precious").c_str(), (ready + ".pending").c_str()), 0);
  const RunningSim sim(SimStart{.ready_file = ready});
  EXPECT_EQ(read_file(ready), sim.agent_socket() + "\n");
  EXPECT_EQ(read_file(shared / "precious"), "precious\n");
}

TEST_F(DerodiSimBehaviour, HelpNamesEveryFlag) {
  const RunResult help = run_program(sim_path(), {"--help"}, {});
  EXPECT_EQ(help.status, 0);
  for (const char* flag : {"--runtime-dir", "--state-dir", "--keep-state", "--ready-file", "--ask",
                           "--stale", "--refuse", "--trust-destination", "--refuse-signatures",
                           "--approval-delay", "--ask-time", "--help"}) {
    EXPECT_NE(help.out.find(flag), std::string::npos) << flag;
  }
  const RunResult bad = run_program(sim_path(), {"--approval-delay", "soon"}, {});
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.err, "derodi-sim: 'soon' is not a number of seconds (0 to 3600)\n");
}

}  // namespace
}  // namespace zelko_test
