// SPDX-License-Identifier: MIT
#include "running_sim.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "zelko/ipc/fd.hpp"

namespace zelko_test {

std::string sim_path() {
  return DERODI_SIM_PATH;
}

std::string SimTest::missing_tool() {
  for (const char* tool : {"ssh-agent", "ssh-add", "ssh-keygen"}) {
    if (find_on_path(tool).empty()) {
      return tool;
    }
  }
  return {};
}

void SimTest::SetUp() {
  if (const std::string tool = missing_tool(); !tool.empty()) {
    GTEST_SKIP() << "derodi-sim needs " << tool << " (openssh-client), which is not installed";
  }
}

std::string search_path() {
  const char* path = std::getenv("PATH");
  return std::string("PATH=") + (path != nullptr ? path : "/usr/bin:/bin");
}

std::vector<std::string> RunningSim::environment(bool with_agent) const {
  std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + runtime_dir(), search_path(),
                                  "HOME=" + home()};
  if (with_agent) {
    env.push_back("SSH_AUTH_SOCK=" + agent_socket());
  }
  return env;
}

RunResult RunningSim::cli(const std::vector<std::string>& arguments, bool with_agent) const {
  return run_program(cli_path(), arguments, environment(with_agent), 60);
}

RunResult RunningSim::tool(const std::vector<std::string>& argv) const {
  return run_program("/usr/bin/env", argv, environment(true), 60);
}

namespace {

// The log of `sim` once `ready` holds for it, or as it is after 10 s.
template <class Ready>
std::string log_when(const RunningSim& sim, Ready ready) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  std::string text = sim.log();
  while (!ready(text) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    text = sim.log();
  }
  return text;
}

}  // namespace

std::string RunningSim::log_with(const std::string& part, std::size_t times) const {
  return log_when(*this, [&](const std::string& text) { return occurrences(text, part) >= times; });
}

bool RunningSim::phone_said(const std::string& decision, const std::string& part) const {
  const std::string start = "derodi-sim: phone: " + decision + ": ";
  const auto said = [&](const std::string& text) {
    for (std::size_t at = text.find(start); at != std::string::npos;
         at = text.find(start, at + 1)) {
      if ((at == 0 || text[at - 1] == '\n') &&
          text.substr(at, text.find('\n', at) - at).find(part) != std::string::npos) {
        return true;
      }
    }
    return false;
  };
  return said(log_when(*this, said));
}

SimStart trusting_localhost(std::vector<std::string> flags) {
  flags.insert(flags.end(), {"--trust-destination", "localhost"});
  return SimStart{.flags = std::move(flags),
                  .known_hosts = "localhost " + std::string(k_localhost_key)};
}

RunningSim::RunningSim(const SimStart& start)
    : m_runtime_dir(start.runtime_dir.empty() ? m_own.path() : start.runtime_dir) {
  std::filesystem::create_directories(home() + "/.ssh");
  if (!start.known_hosts.empty()) {
    write_file(home() + "/.ssh/known_hosts", start.known_hosts);
  }
  const bool fifo = start.ready_file.empty();
  const std::string ready = fifo ? m_own / "ready" : start.ready_file;
  zelko_ipc::Fd reader;
  if (fifo) {
    if (::mkfifo(ready.c_str(), 0600) != 0) {
      throw std::runtime_error("cannot make the ready FIFO");
    }
    // Opened before the sim starts, without blocking, so that a sim that
    // dies at start cannot leave the test waiting.
    reader.reset(::open(ready.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  }
  std::vector<std::string> argv = {sim_path(), "--ready-file", ready};
  argv.insert(argv.end(), start.flags.begin(), start.flags.end());
  std::vector<std::string> env = environment();
  env.insert(env.end(), start.environment.begin(), start.environment.end());
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  short flags = 0;
  std::string log = m_own / "log";
  if (start.unread_log) {
    // A pipe as small as the system allows, opened for reading and never read.
    log = m_own / "log-fifo";
    ::mkfifo(log.c_str(), 0600);
    m_terminal.reset(::open(log.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    ::fcntl(m_terminal.get(), F_SETPIPE_SZ, 4096);
  }
  if (start.no_standard_descriptors) {
    for (const int fd : {0, 1, 2}) {
      posix_spawn_file_actions_addclose(&actions, fd);
    }
  } else {
    posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  }
  zelko_ipc::Fd terminal_side;
  if (start.terminal) {
    // A session of its own whose first terminal, opened on 0, is the pty.
    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
      throw std::runtime_error("openpty failed");
    }
    m_terminal.reset(master);
    terminal_side.reset(slave);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    posix_spawn_file_actions_addopen(&actions, 0, ::ptsname(master), O_RDWR, 0);
    flags |= POSIX_SPAWN_SETSID;
  }
  if (start.own_process_group) {
    flags |= POSIX_SPAWN_SETPGROUP;
    posix_spawnattr_setpgroup(&attributes, 0);
  }
  posix_spawnattr_setflags(&attributes, flags);
  std::vector<char*> args;
  for (std::string& a : argv) {
    args.push_back(a.data());
  }
  args.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& e : env) {
    envp.push_back(e.data());
  }
  envp.push_back(nullptr);
  const int spawned =
      ::posix_spawn(&m_pid, argv[0].c_str(), &actions, &attributes, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) {
    throw std::runtime_error("cannot start derodi-sim");
  }
  for (int i = 0; i < 600; ++i) {
    if (fifo) {
      pollfd waiting{reader.get(), POLLIN, 0};
      const bool woken = ::poll(&waiting, 1, 100) > 0;
      if (woken && (waiting.revents & POLLIN) != 0) {
        return;
      }
      // A sim that gives up ends the FIFO without a line, then exits.
      if (woken) {
        wait();
        throw std::runtime_error("derodi-sim exited at start: " + this->log());
      }
    } else {
      if (read_file(ready).ends_with('\n')) {
        return;
      }
      ::poll(nullptr, 0, 100);
    }
    if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
      m_pid = -1;
      throw std::runtime_error("derodi-sim exited at start: " + this->log());
    }
  }
  throw std::runtime_error("derodi-sim did not start listening");
}

int RunningSim::stop(int signal) {
  if (m_pid > 0) {
    ::kill(m_pid, signal);
  }
  return wait();
}

int RunningSim::wait() {
  if (m_pid < 0) {
    return -1;
  }
  int status = 0;
  ::waitpid(m_pid, &status, 0);
  m_pid = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

RunningSim::~RunningSim() {
  stop();
}

UserAgent::UserAgent() {
  const std::string socket = m_directory / "agent.sock";
  std::vector<std::string> argv = {"ssh-agent", "-D", "-a", socket};
  std::vector<char*> args;
  for (std::string& a : argv) {
    args.push_back(a.data());
  }
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> own = {search_path()};
  std::vector<char*> envp = {own[0].data(), nullptr};
  const int spawned =
      ::posix_spawnp(&m_pid, "ssh-agent", &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    throw std::runtime_error("cannot start ssh-agent");
  }
  const std::string key = m_directory / "id";
  for (int i = 0; i < 100 && ::access(socket.c_str(), F_OK) != 0; ++i) {
    ::poll(nullptr, 0, 20);
  }
  const std::vector<std::string> plain = {search_path()};
  if (run_program("/usr/bin/env", {"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", key}, plain)
              .status != 0 ||
      run_program("/usr/bin/env", {"ssh-add", "-q", key}, environment()).status != 0) {
    throw std::runtime_error("cannot give the user's agent its key");
  }
}

UserAgent::~UserAgent() {
  ::kill(m_pid, SIGTERM);
  ::waitpid(m_pid, nullptr, 0);
}

std::vector<std::string> UserAgent::environment() const {
  return {"SSH_AUTH_SOCK=" + m_directory / "agent.sock", "SSH_AGENT_PID=" + std::to_string(m_pid),
          search_path()};
}

std::string UserAgent::keys() const {
  return run_program("/usr/bin/env", {"ssh-add", "-l"}, environment()).out;
}

std::size_t occurrences(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++n;
  }
  return n;
}

namespace {

// What /proc/PID/stat says of a process: "PID (NAME) STATE PPID ...", the
// name being whatever the process chose, parentheses included.
struct ProcessStat {
  std::string name;
  char state = 0;
  pid_t parent = 0;
};

std::optional<ProcessStat> process_stat(pid_t pid) {
  const std::string text = read_file("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t open = text.find('(');
  const std::size_t close = text.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) {
    return std::nullopt;
  }
  ProcessStat stat{text.substr(open + 1, close - open - 1)};
  std::istringstream(text.substr(close + 1)) >> stat.state >> stat.parent;
  return stat;
}

}  // namespace

std::vector<pid_t> descendants(pid_t ancestor, const std::string& name) {
  std::vector<std::pair<pid_t, ProcessStat>> all;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string pid = entry.path().filename();
    if (pid.find_first_not_of("0123456789") == std::string::npos) {
      if (auto stat = process_stat(std::stoi(pid))) {
        all.emplace_back(std::stoi(pid), std::move(*stat));
      }
    }
  }
  std::vector<pid_t> family = {ancestor};
  std::vector<pid_t> found;
  for (std::size_t next = 0; ancestor > 0 && next < family.size(); ++next) {
    for (const auto& [pid, stat] : all) {
      if (stat.parent == family[next]) {
        family.push_back(pid);
        if (name.empty() || stat.name == name) {
          found.push_back(pid);
        }
      }
    }
  }
  return found;
}

std::vector<pid_t> still_running(const std::vector<pid_t>& pids) {
  std::vector<pid_t> running;
  for (const pid_t pid : pids) {
    if (const auto stat = process_stat(pid); stat && stat->state != 'Z') {
      running.push_back(pid);
    }
  }
  return running;
}

}  // namespace zelko_test
