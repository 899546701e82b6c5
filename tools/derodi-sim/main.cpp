// SPDX-License-Identifier: MIT
// derodi-sim: a stand-in for the derodi daemon with one simulated phone.

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <vector>

#include "agent.hpp"
#include "agent_proxy.hpp"
#include "control.hpp"
#include "keyring.hpp"
#include "listener.hpp"
#include "log.hpp"
#include "options.hpp"
#include "own_directory.hpp"
#include "phone.hpp"
#include "ready_notice.hpp"
#include "server.hpp"
#include "text.hpp"
#include "zelko/ipc/os_error.hpp"
#include "zelko/ipc/unix_socket.hpp"

namespace {

using namespace derodi_sim;

// The signals that stop the sim are turned into a byte on this pipe, which
// the main loop waits on.
int g_signal_pipe = -1;

void on_stop_signal(int) {
  const int saved = errno;
  const char byte = 1;
  if (::write(g_signal_pipe, &byte, 1) < 0) {
    // A full pipe already says to stop.
  }
  errno = saved;
}

std::expected<zelko_ipc::Fd, std::string> catch_stop_signals(bool asking) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
    return std::unexpected(zelko_ipc::describe_os_error(errno));
  }
  g_signal_pipe = ends[1];
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  // A terminal that closes (SIGHUP) or a quit key stops it as cleanly as
  // Ctrl-C or kill do.
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    ::sigaction(signal, &action, nullptr);
  }
  std::signal(SIGPIPE, SIG_IGN);
  if (asking) {
    // Asked from the background, the terminal answers nothing rather than
    // stopping the whole sim.
    std::signal(SIGTTIN, SIG_IGN);
    std::signal(SIGTTOU, SIG_IGN);
  }
  return zelko_ipc::Fd(ends[0]);
}

// The phone's key files, removed when the sim ends unless they are to be kept.
class StateDirectory {
 public:
  StateDirectory(std::string path, bool keep) : m_path(std::move(path)), m_keep(keep) {}
  StateDirectory(const StateDirectory&) = delete;
  StateDirectory& operator=(const StateDirectory&) = delete;
  ~StateDirectory() {
    if (!m_keep) {
      std::error_code ignored;
      std::filesystem::remove_all(m_path, ignored);
    }
  }
  [[nodiscard]] const std::string& path() const { return m_path; }

 private:
  std::string m_path;
  bool m_keep;
};

// The keys the phone holds: two ed25519 keys and one RSA key from the
// start, and those it made in an earlier run with this state directory.
std::expected<std::vector<Key>, std::string> phone_keys(const std::string& directory) {
  struct Wanted {
    const char* name;
    const char* type;
    std::uint32_t bits;
  };
  constexpr Wanted wanted[] = {
      {"work", "ed25519", 0}, {"github", "ed25519", 0}, {"legacy", "rsa", 2048}};
  std::vector<Key> keys;
  for (const Wanted& w : wanted) {
    auto key = make_or_load_key(directory + "/" + w.name, w.type, w.bits, w.name);
    if (!key) {
      return std::unexpected(key.error());
    }
    keys.push_back(std::move(*key));
  }
  auto made = load_made_keys(directory);
  if (!made) {
    return std::unexpected(made.error());
  }
  for (Key& key : *made) {
    const bool taken = std::any_of(keys.begin(), keys.end(),
                                   [&](const Key& other) { return other.name == key.name; });
    if (!taken) {
      keys.push_back(std::move(key));
    }
  }
  return keys;
}

// Tells the agent's complaints, a line at a time, unless the sim is quiet.
class AgentErrors {
 public:
  AgentErrors(Log& log, bool quiet) : m_log(log), m_quiet(quiet) {}

  void read_from(int fd) {
    char chunk[4096];
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got <= 0) {
      return;
    }
    m_pending.append(chunk, static_cast<std::size_t>(got));
    for (std::size_t end; (end = m_pending.find('\n')) != std::string::npos;
         m_pending.erase(0, end + 1)) {
      const std::string_view line = std::string_view(m_pending).substr(0, end);
      if (!m_quiet) {
        m_log.write(
            concat("derodi-sim: agent: ", shown(line.substr(0, line.find_last_not_of('\r') + 1))));
      }
    }
  }

 private:
  Log& m_log;
  bool m_quiet;
  std::string m_pending;
};

// Waits until a stop signal arrives or the agent dies, telling what the
// agent says and delivering the ready notice meanwhile. Returns why it
// stopped: nothing for a signal.
std::expected<void, std::string> wait_for_the_end(int signals, Agent& agent, AgentErrors& errors,
                                                  std::optional<ReadyNotice>& ready, Log& log) {
  while (true) {
    pollfd waiting[2] = {{signals, POLLIN, 0}, {agent.errors(), POLLIN, 0}};
    if (::poll(waiting, 2, 50) > 0) {
      if (waiting[0].revents != 0) {
        return {};
      }
      errors.read_from(agent.errors());
    }
    if (agent.has_exited()) {
      return std::unexpected(std::string("the ssh-agent has exited; stopping"));
    }
    if (ready && ready->deliver()) {
      if (!ready->failure().empty()) {
        log.write("derodi-sim: cannot write the ready file: " + ready->failure());
      }
      ready.reset();
    }
  }
}

// One sim per runtime directory, even when two start at the same instant:
// each takes a lock on the directory first, and the one that cannot, like
// one that finds a daemon answering, touches nothing.
std::expected<zelko_ipc::Fd, std::string> claim(const std::string& zelko_dir,
                                                const std::string& control_path) {
  zelko_ipc::Fd lock(::open(zelko_dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!lock) {
    return std::unexpected("cannot open " + zelko_dir + ": " + zelko_ipc::describe_os_error(errno));
  }
  if (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0 || zelko_ipc::connect_unix(control_path)) {
    return std::unexpected("a daemon already answers on " + control_path);
  }
  return lock;
}

// Every directory the sim is to use passes before it touches any.
std::expected<std::optional<Asker>, std::string> check_before_starting(
    const Options& options, const std::string& zelko_dir) {
  for (const std::string& directory : {zelko_dir, options.state_dir}) {
    if (auto checked = check_own_directory(directory); !checked) {
      return std::unexpected(checked.error());
    }
  }
  if (!options.behaviour.ask) {
    return std::nullopt;
  }
  auto asker = Asker::open();
  if (!asker) {
    return std::unexpected(asker.error());
  }
  return std::optional<Asker>(std::move(*asker));
}

std::expected<void, std::string> simulate(const Options& options) {
  const std::string zelko_dir = options.runtime_dir + "/zelko";
  const std::string control_path = zelko_dir + "/control.sock";
  auto asker = check_before_starting(options, zelko_dir);
  if (!asker) {
    return std::unexpected(asker.error());
  }
  if (auto made = make_own_directory(zelko_dir); !made) {
    return made;
  }
  const auto claimed = claim(zelko_dir, control_path);
  if (!claimed) {
    return std::unexpected(claimed.error());
  }
  auto signals = catch_stop_signals(options.behaviour.ask);
  if (!signals) {
    return std::unexpected(signals.error());
  }
  if (auto made = make_own_directory(options.state_dir); !made) {
    return made;
  }
  const StateDirectory state(options.state_dir, options.keep_state);
  auto keys = phone_keys(state.path());
  if (!keys) {
    return std::unexpected(keys.error());
  }
  // The real agent listens where only the sim goes; SSH clients reach it
  // through the endpoint, which asks the phone about signatures. It starts
  // before any thread does: it is forked.
  auto agent = Agent::start(zelko_dir);
  if (!agent) {
    return std::unexpected(agent.error());
  }
  Log log(STDERR_FILENO);
  AgentErrors agent_errors(log, options.behaviour.quiet);
  for (const Key& key : *keys) {
    if (auto added = agent->add(key); !added) {
      return added;
    }
  }
  const std::string endpoint = zelko_dir + "/agent.sock";
  Phone phone(options.behaviour, *agent, log, std::move(*asker), endpoint, state.path(),
              std::move(*keys));
  auto control_listener = Listener::open(control_path);
  if (!control_listener) {
    return std::unexpected(control_listener.error());
  }
  auto agent_listener = Listener::open(endpoint);
  if (!agent_listener) {
    return std::unexpected(agent_listener.error());
  }
  Server control(std::move(*control_listener), [&](int fd) { serve_control(fd, phone); });
  Server agent_endpoint(std::move(*agent_listener),
                        [&](int fd) { serve_agent(fd, agent->socket_path(), phone); });
  log.write("derodi-sim: listening on " + control_path + ", agent at " + endpoint);
  std::optional<ReadyNotice> ready;
  if (!options.ready_file.empty()) {
    ready.emplace(options.ready_file, endpoint + "\n");
  }
  auto ended = wait_for_the_end(signals->get(), *agent, agent_errors, ready, log);
  // Nothing is granted from now on; every client waiting is let go, and the
  // agent goes first, so that no proxy waits on it.
  phone.stop();
  agent->stop();
  control.stop();
  agent_endpoint.stop();
  if (ended) {
    log.write("derodi-sim: stopped");
  }
  return ended;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string_view> arguments(argv + 1, argv + argc);
  const auto options = parse_options(arguments, std::getenv("XDG_RUNTIME_DIR"));
  if (!options) {
    std::fprintf(stderr, "derodi-sim: %s\n", options.error().c_str());
    return 2;
  }
  if (options->help) {
    std::fwrite(k_help.data(), 1, k_help.size(), stdout);
    return 0;
  }
  if (auto ran = simulate(*options); !ran) {
    std::fprintf(stderr, "derodi-sim: %s\n", ran.error().c_str());
    ReadyNotice::let_waiting_reader_go(options->ready_file);
    return 1;
  }
  return 0;
}
