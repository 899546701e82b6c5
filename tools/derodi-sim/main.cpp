// SPDX-License-Identifier: MIT
// derodi-sim: a stand-in for the derodi daemon with one simulated phone.

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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
#include "options.hpp"
#include "phone.hpp"
#include "ready_notice.hpp"
#include "server.hpp"
#include "zelko/ipc/os_error.hpp"
#include "zelko/ipc/unix_socket.hpp"

namespace {

using namespace derodi_sim;

// SIGINT and SIGTERM are turned into a byte on this pipe, which the main
// loop waits on.
int g_signal_pipe = -1;

void on_stop_signal(int) {
  const int saved = errno;
  const char byte = 1;
  if (::write(g_signal_pipe, &byte, 1) < 0) {
    // A full pipe already says to stop.
  }
  errno = saved;
}

std::expected<zelko_ipc::Fd, std::string> catch_stop_signals() {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
    return std::unexpected(zelko_ipc::describe_os_error(errno));
  }
  g_signal_pipe = ends[1];
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  return zelko_ipc::Fd(ends[0]);
}

std::expected<void, std::string> make_directory(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    return std::unexpected("cannot create " + path + ": " + zelko_ipc::describe_os_error(errno));
  }
  return {};
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

// The keys the phone holds from the start: two ed25519 keys and one RSA key.
std::expected<std::vector<Key>, std::string> starting_keys(const std::string& directory) {
  struct Wanted {
    const char* name;
    const char* type;
    std::uint32_t bits;
  };
  constexpr Wanted wanted[] = {
      {"work", "ed25519", 0}, {"github", "ed25519", 0}, {"legacy", "rsa", 2048}};
  std::vector<Key> keys;
  for (const Wanted& w : wanted) {
    auto key = make_or_load_key(directory + "/" + w.name, w.type, w.bits, w.name,
                                std::string(w.name) + "@zelko-phone");
    if (!key) {
      return std::unexpected(key.error());
    }
    keys.push_back(std::move(*key));
  }
  return keys;
}

// Waits until a stop signal arrives or the agent dies, and delivers the
// ready notice meanwhile. Returns why it stopped: nothing for a signal.
std::expected<void, std::string> wait_for_the_end(int signals, Agent& agent,
                                                  std::optional<ReadyNotice>& ready) {
  while (true) {
    pollfd waiting{signals, POLLIN, 0};
    if (::poll(&waiting, 1, 50) > 0) {
      return {};
    }
    if (agent.has_exited()) {
      return std::unexpected(std::string("the ssh-agent has exited; stopping"));
    }
    if (ready && ready->deliver()) {
      if (!ready->failure().empty()) {
        std::fprintf(stderr, "derodi-sim: cannot write the ready file: %s\n",
                     ready->failure().c_str());
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
  if (auto made = make_directory(zelko_dir); !made) {
    return std::unexpected(made.error());
  }
  zelko_ipc::Fd lock(::open(zelko_dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!lock) {
    return std::unexpected("cannot open " + zelko_dir + ": " + zelko_ipc::describe_os_error(errno));
  }
  if (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0 || zelko_ipc::connect_unix(control_path)) {
    return std::unexpected("a daemon already answers on " + control_path);
  }
  return lock;
}

std::expected<void, std::string> simulate(const Options& options) {
  const std::string zelko_dir = options.runtime_dir + "/zelko";
  const std::string control_path = zelko_dir + "/control.sock";
  const auto claimed = claim(zelko_dir, control_path);
  if (!claimed) {
    return std::unexpected(claimed.error());
  }
  auto signals = catch_stop_signals();
  if (!signals) {
    return std::unexpected(signals.error());
  }
  if (auto made = make_directory(options.state_dir); !made) {
    return made;
  }
  const StateDirectory state(options.state_dir, options.keep_state);
  auto keys = starting_keys(state.path());
  if (!keys) {
    return std::unexpected(keys.error());
  }
  // The real agent listens where only the sim goes; SSH clients reach it
  // through the endpoint, which asks the phone about signatures.
  auto agent = Agent::start(zelko_dir + "/ssh-agent.sock");
  if (!agent) {
    return std::unexpected(agent.error());
  }
  for (const Key& key : *keys) {
    if (auto added = agent->add(key.private_path); !added) {
      return added;
    }
  }
  const std::string endpoint = zelko_dir + "/agent.sock";
  Phone phone(options.behaviour, *agent, endpoint, state.path(), std::move(*keys));
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
  std::fprintf(stderr, "derodi-sim: listening on %s, agent at %s\n", control_path.c_str(),
               endpoint.c_str());
  std::optional<ReadyNotice> ready;
  if (!options.ready_file.empty()) {
    ready.emplace(options.ready_file, endpoint + "\n");
  }
  auto ended = wait_for_the_end(signals->get(), *agent, ready);
  // Nothing is granted from now on; every client waiting is let go, and the
  // agent goes first, so that no proxy waits on it.
  phone.stop();
  agent->stop();
  control.stop();
  agent_endpoint.stop();
  if (ended) {
    std::fprintf(stderr, "derodi-sim: stopped\n");
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
    return 1;
  }
  return 0;
}
