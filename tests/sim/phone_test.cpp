// SPDX-License-Identifier: MIT
// What the simulated phone tells and decides: destinations only once the
// agent verified them, a log nobody reads, keys that stay, windows that fit
// the clock, and a user asked on the terminal.

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
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

class Phone : public SimTest {};

// The agent protocol's pieces: a 4-byte big-endian length, then the bytes.
std::string ssh_string(std::string_view bytes) {
  const auto length = static_cast<std::uint32_t>(bytes.size());
  std::string out = {static_cast<char>(length >> 24), static_cast<char>(length >> 16),
                     static_cast<char>(length >> 8), static_cast<char>(length)};
  return out.append(bytes);
}

// Sends one message on the agent connection `fd`; its reply, or "(none)".
std::string request(int fd, const std::string& message) {
  if (!zelko_ipc::write_all(fd, zelko_ipc::make_frame(message))) {
    return "(none)";
  }
  const auto reply =
      zelko_ipc::daemon::read_frame(fd, 1 << 20, std::chrono::steady_clock::now() + 5s);
  return reply ? *reply : "(none)";
}

// The first key blob an agent lists.
std::string first_key(int fd) {
  const std::string listed = request(fd, "\x0b");
  // type 12, a count, then the first key's blob as a string
  const std::size_t length =
      static_cast<unsigned char>(listed[7]) << 8 | static_cast<unsigned char>(listed[8]);
  return listed.substr(9, length);
}

std::string sign(std::string_view key, std::string_view data) {
  return "\x0d" + ssh_string(key) + ssh_string(data) + std::string(4, '\0');
}

std::string login(std::string_view key, std::string_view session, std::string_view user = "alice") {
  return sign(key, ssh_string(session) + "\x32" + ssh_string(user) + ssh_string("ssh-connection") +
                       ssh_string("publickey") + "\x01" + ssh_string("ssh-ed25519") +
                       ssh_string(key));
}

// Binds the agent connection `endpoint` to `session` with the host key
// `host_key`, which the agent `host` holds, as ssh does once it has
// verified the host (a `broken` signature does not verify), or as the
// connection of a forwarded agent does (`forwarding`).
std::string bind(int endpoint, int host, const std::string& host_key, const std::string& session,
                 bool broken = false, bool forwarding = false) {
  std::string signature = request(host, sign(host_key, session)).substr(5);
  if (broken) {
    signature.back() ^= 1;
  }
  return request(endpoint, "\x1b" + ssh_string("session-bind@openssh.com") + ssh_string(host_key) +
                               ssh_string(session) + ssh_string(signature) +
                               std::string(1, forwarding ? '\1' : '\0'));
}

// A host is named only once the agent has accepted the connection's bind
// to it: not for a bind whose signature does not verify, nor for a second
// bind on a connection bound for a login.
TEST_F(Phone, NamesOnlyDestinationsTheAgentVerified) {
  const RunningSim sim;
  const UserAgent hosts;  // its one key stands for a server's host key
  const auto host_agent = zelko_ipc::connect_unix(hosts.environment()[0].substr(14));
  const auto endpoint = zelko_ipc::connect_unix(sim.agent_socket());
  ASSERT_TRUE(host_agent && endpoint);
  const std::string host_key = first_key(host_agent->get());
  const std::string phone_key = first_key(endpoint->get());
  const auto bound = [&](const std::string& session, bool broken) {
    return bind(endpoint->get(), host_agent->get(), host_key, session, broken);
  };
  EXPECT_EQ(bound("session refused", true), "\x05");
  EXPECT_EQ(bound("session bound", false), "\x06");
  EXPECT_EQ(bound("session second", false), "\x05");
  for (const char* session : {"session refused", "session bound", "session second"}) {
    EXPECT_EQ(request(endpoint->get(), login(phone_key, session)).front(), '\x0e') << session;
  }
  // A client that has shut its sending side still gets its answer.
  ASSERT_TRUE(zelko_ipc::write_all(endpoint->get(),
                                   zelko_ipc::make_frame(login(phone_key, "session bound"))));
  ::shutdown(endpoint->get(), SHUT_WR);
  const auto last = zelko_ipc::daemon::read_frame(endpoint->get(), 1 << 20,
                                                  std::chrono::steady_clock::now() + 5s);
  EXPECT_TRUE(last && last->front() == '\x0e');

  const std::string listed = hosts.keys();
  const std::string host = listed.substr(listed.find("SHA256:"), 50);
  const std::string not_known =
      "ssh login as 'alice' to a host not in known_hosts, key " + host + ", asked by ";
  const std::string unverified = "ssh login as 'alice' to an unverified destination";
  (void)sim.log_with(not_known, 2);
  const std::string log = sim.log_with(unverified, 2);
  EXPECT_EQ(occurrences(log, not_known), 2u) << log;
  EXPECT_EQ(occurrences(log, unverified), 2u) << log;
  EXPECT_EQ(occurrences(log, "key " + host), 2u) << log;
}

// A user name or a namespace that reads like the end of a line, padded past
// any cut, changes nothing of what the line says was decided, who asked or
// for which host: the decision comes first, and every foreign text is
// quoted, escaped and capped.
TEST_F(Phone, ForgedTextsCannotBendTheLine) {
  const RunningSim sim({"--refuse-signatures"});
  const auto endpoint = zelko_ipc::connect_unix(sim.agent_socket());
  ASSERT_TRUE(endpoint);
  const std::string key = first_key(endpoint->get());
  const std::string forged =
      "deploy' for host SHA256:x, asked by 'ssh' (pid 4242): approved by the window" +
      std::string(4200, ' ');
  EXPECT_EQ(request(endpoint->get(), login(key, "session", forged)), "\x05");
  EXPECT_EQ(request(endpoint->get(), sign(key, "SSHSIG" + ssh_string(forged))), "\x05");
  EXPECT_EQ(request(endpoint->get(), login(key, "session", "ali\u200bce\x1b[2J")), "\x05");
  const std::string shown =
      "'deploy\\' for host SHA256:x, asked by \\'ssh\\' (pid 4242): "
      "approved b'... (4276 bytes)";
  for (const std::string& asked :
       {": ssh login as " + shown + " to an unverified destination, asked by '",
        ": SSHSIG signature in namespace " + shown + ", asked by '",
        std::string(
            ": ssh login as 'ali\\u{200b}ce\\x1b[2J' to an unverified destination, asked by '")}) {
    EXPECT_TRUE(sim.phone_said("refused outside a window", asked)) << asked << " in " << sim.log();
  }
  const std::string log = sim.log();
  EXPECT_EQ(log.find("phone: approved"), std::string::npos) << log;
  EXPECT_EQ(log.find('\x1b'), std::string::npos);
  for (std::size_t start = 0, end; (end = log.find('\n', start)) != std::string::npos;
       start = end + 1) {
    EXPECT_LT(end - start, 1024u) << log.substr(start, end - start);
  }
}

// A program that names itself ssh is shown with the executable it runs.
TEST_F(Phone, AProgramIsNamedByWhatItRuns) {
  const RunningSim sim;
  const pid_t child = ::fork();
  if (child == 0) {
    ::prctl(PR_SET_NAME, "ssh");
    const auto endpoint = zelko_ipc::connect_unix(sim.agent_socket());
    const bool signed_it =
        endpoint && request(endpoint->get(), sign(first_key(endpoint->get()), "data"))[0] == '\x0e';
    ::_exit(signed_it ? 0 : 1);
  }
  int status = -1;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(sim.phone_said("approved", ", asked by 'ssh' (really '")) << sim.log();
  EXPECT_TRUE(sim.phone_said("approved", ", pid " + std::to_string(child) + "), from '"))
      << sim.log();
}

// A terminal that does not take the question (its output paused, as
// Ctrl-S does) is a refusal within the time to answer, and a stop ends
// the sim at once, whatever is pending: a question, a key generation
// waiting for one, a client that sends nothing.
TEST_F(Phone, AQuestionCannotHoldTheSim) {
  RunningSim sim(SimStart{.flags = {"--ask", "--ask-time", "2"}, .terminal = true});
  const zelko_ipc::Fd terminal(::open(::ptsname(sim.terminal()), O_RDWR | O_NOCTTY | O_CLOEXEC));
  ASSERT_TRUE(terminal);
  ASSERT_EQ(::tcflow(terminal.get(), TCOOFF), 0);
  const auto start = std::chrono::steady_clock::now();
  const RunResult window = sim.cli({"authorize", "--minutes", "5"});
  EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
  EXPECT_EQ(window.status, 1);
  EXPECT_NE(window.err.find("declined"), std::string::npos) << window.err;
  EXPECT_TRUE(sim.phone_said("refused, the terminal did not take the question in time",
                             "authorization window of 5 min"))
      << sim.log();

  std::thread generation([&] { (void)sim.cli({"generate", "--name", "pending"}); });
  std::thread question([&] { (void)sim.cli({"authorize", "--minutes", "5"}); });
  const auto silent = zelko_ipc::connect_unix(sim.control_socket());
  std::this_thread::sleep_for(300ms);
  const auto stopping = std::chrono::steady_clock::now();
  EXPECT_EQ(sim.stop(SIGTERM), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - stopping, 1s);
  generation.join();
  question.join();
}

// With standard error a pipe that nobody reads, signatures, key making,
// listings and the stop all go on; the lines that did not fit are counted
// and told once the log is read.
TEST_F(Phone, AnUnreadLogHoldsNothingUp) {
  RunningSim sim(SimStart{.unread_log = true});
  const auto endpoint = zelko_ipc::connect_unix(sim.agent_socket());
  ASSERT_TRUE(endpoint);
  const std::string key = first_key(endpoint->get());
  for (int i = 0; i < 400; ++i) {
    ASSERT_EQ(request(endpoint->get(), sign(key, "data")).front(), '\x0e') << i;
  }
  EXPECT_EQ(sim.cli({"generate", "--name", "unlogged"}).status, 0);
  EXPECT_NE(sim.cli({"keys"}).out.find("unlogged\t"), std::string::npos);
  std::string read;
  const auto until = std::chrono::steady_clock::now() + 10s;
  while (read.find("dropped") == std::string::npos && std::chrono::steady_clock::now() < until) {
    pollfd log{sim.terminal(), POLLIN, 0};
    char chunk[65536];
    const ssize_t got = ::poll(&log, 1, 100) > 0 ? ::read(log.fd, chunk, sizeof chunk) : 0;
    read.append(chunk, got > 0 ? static_cast<std::size_t>(got) : 0);
  }
  EXPECT_NE(read.find(" log line(s) dropped while nothing read the log\n"), std::string::npos);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(sim.stop(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
}

// Keys made with a state directory are there at the next start, and a new
// one never takes an old one's files.
TEST_F(Phone, KeysMadeInAStateDirectoryStay) {
  const TempDir state;
  std::string made;
  {
    const RunningSim sim({"--state-dir", state.path()});
    made = sim.cli({"generate", "--name", "kept"}).out;
    ASSERT_TRUE(made.starts_with("ssh-ed25519 ")) << made;
  }
  const std::string private_key = read_file(state / "generated-1");
  const RunningSim again({"--state-dir", state.path()});
  EXPECT_EQ(again.cli({"getpub", "kept"}).out, made);
  EXPECT_EQ(again.cli({"generate", "--name", "next"}).status, 0);
  EXPECT_EQ(read_file(state / "generated-1"), private_key);
  EXPECT_NE(read_file(state / "generated-2.pub").find(" next@zelko-phone"), std::string::npos);
  EXPECT_NE(again.tool({"ssh-add", "-L"}).out.find(made), std::string::npos);
}

// A window approves only what its scope names: a verified login to a
// trusted destination, and git signatures; not a login to another
// verified host, nor anything asked through a forwarded agent.
TEST_F(Phone, WindowsCoverWhatTheirScopeNames) {
  const UserAgent trusted_host;
  const UserAgent other_host;
  SimStart start = trusting_localhost({"--refuse-signatures"});
  start.known_hosts =
      "localhost " + trusted_host.public_key() + "otherhost " + other_host.public_key();
  const RunningSim sim(start);
  EXPECT_EQ(sim.cli({"authorize", "--minutes", "5"}).out,
            "authorized: destination 'localhost' and git signatures\n");
  struct Row {
    const UserAgent& host;
    bool forwarding;
    bool git;  // an SSHSIG signature for git, else a login
    std::string decision;
    std::string part;
  };
  const Row rows[] = {
      {trusted_host, false, false, "approved by the window", "to 'localhost' (host key verified"},
      {other_host, false, false, "refused, outside the window's scope", "to 'otherhost'"},
      {trusted_host, true, true, "refused, outside the window's scope",
       "namespace 'git', through a forwarded agent"},
  };
  for (const Row& row : rows) {
    const auto endpoint = zelko_ipc::connect_unix(sim.agent_socket());
    const auto host = zelko_ipc::connect_unix(row.host.environment()[0].substr(14));
    ASSERT_TRUE(endpoint && host);
    const std::string key = first_key(endpoint->get());
    const std::string session = "session " + row.part;
    ASSERT_EQ(
        bind(endpoint->get(), host->get(), first_key(host->get()), session, false, row.forwarding),
        "\x06");
    const std::string reply = request(
        endpoint->get(), row.git ? sign(key, "SSHSIG" + ssh_string("git")) : login(key, session));
    EXPECT_EQ(reply.front(), row.decision.starts_with("approved") ? '\x0e' : '\x05') << row.part;
    EXPECT_TRUE(sim.phone_said(row.decision, row.part)) << row.part << " in " << sim.log();
  }
}

// No window outlasts the clock: a longer one is refused with the phone's
// own words, and the open window stays.
TEST_F(Phone, WindowsFitTheClock) {
  const RunningSim sim(trusting_localhost());
  ASSERT_EQ(sim.cli({"authorize", "--minutes", "5"}).status, 0);
  EXPECT_RUN(sim.cli({"authorize", "--minutes", "4294967295"}), "",
             "asking the phone; choose the scope there...\n"
             "zelko-cli: a window can last at most 10080 minutes (a week)\n",
             1);
  EXPECT_NE(sim.cli({"status"}).out.find("(5 min left)"), std::string::npos);
}

// --ask puts each decision to the user on the terminal: a verified login
// to a host known_hosts names may trust it from then on (kept in the state
// directory), a window's scope is chosen there; without a terminal, the
// sim does not start.
TEST_F(Phone, AsksOnTheTerminal) {
  const TempDir state;
  const UserAgent host;
  const std::string known_hosts = "localhost " + host.public_key();
  RunningSim sim(SimStart{.flags = {"--ask", "--state-dir", state.path()},
                          .terminal = true,
                          .known_hosts = known_hosts});
  std::string shown;
  std::thread user([&] {
    for (const char* answer : {"t\n", "1\n", "g\n", "n\n"}) {
      const std::size_t asked = shown.size();
      while (shown.find("] ", asked) == std::string::npos) {
        char chunk[512];
        const ssize_t got = ::read(sim.terminal(), chunk, sizeof chunk);
        if (got <= 0) {
          return;
        }
        shown.append(chunk, static_cast<std::size_t>(got));
      }
      (void)!::write(sim.terminal(), answer, 2);
    }
  });
  const auto endpoint = zelko_ipc::connect_unix(sim.agent_socket());
  const auto host_agent = zelko_ipc::connect_unix(host.environment()[0].substr(14));
  ASSERT_TRUE(endpoint && host_agent);
  ASSERT_EQ(bind(endpoint->get(), host_agent->get(), first_key(host_agent->get()), "s"), "\x06");
  EXPECT_EQ(request(endpoint->get(), login(first_key(endpoint->get()), "s")).front(), '\x0e');
  const RunResult destination = sim.cli({"authorize", "--minutes", "5"});
  const RunResult git = sim.cli({"authorize", "--minutes", "5"});
  const RunResult declined = sim.cli({"generate", "--name", "declined"});
  user.join();
  EXPECT_NE(shown.find(", t approves it and trusts 'localhost' from now on"), std::string::npos)
      << shown;
  EXPECT_TRUE(sim.phone_said("trusted from now on", "destination 'localhost' (host key SHA256:"))
      << sim.log();
  EXPECT_NE(shown.find("scope: 1 'localhost', a all trusted destinations, g git signatures"),
            std::string::npos)
      << shown;
  EXPECT_EQ(destination.out, "authorized: destination 'localhost'\n");
  EXPECT_EQ(git.out, "authorized: git signatures\n");
  EXPECT_EQ(declined.err,
            "approve the request on the phone...\n"
            "zelko-cli: the request was declined on the phone\n");
  EXPECT_NE(shown.find("derodi-sim: phone: key generation of 'declined' (ed25519)? [y/N] "),
            std::string::npos)
      << shown;
  // Trusted still after a restart on the same state directory.
  EXPECT_EQ(sim.stop(), 0);
  const RunningSim again(
      SimStart{.flags = {"--state-dir", state.path()}, .known_hosts = known_hosts});
  EXPECT_EQ(again.cli({"authorize", "--minutes", "5"}).out,
            "authorized: destination 'localhost' and git signatures\n");

  const std::string setsid = find_on_path("setsid");
  if (setsid.empty()) {
    std::printf("skipped: a start without a terminal needs util-linux's setsid\n");
    return;
  }
  const RunResult no_terminal = run_program(setsid, {sim_path(), "--ask"}, sim.environment());
  EXPECT_EQ(no_terminal.status, 1);
  EXPECT_NE(no_terminal.err.find("derodi-sim: --ask needs a terminal to ask on: "),
            std::string::npos)
      << no_terminal.err;
}

}  // namespace
}  // namespace zelko_test
