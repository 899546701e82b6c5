// SPDX-License-Identifier: MIT
#include "running_sim.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>

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

std::vector<std::string> RunningSim::environment(bool with_agent) const {
  const char* path = std::getenv("PATH");
  std::vector<std::string> env = {
      "XDG_RUNTIME_DIR=" + runtime_dir(),
      std::string("PATH=") + (path != nullptr ? path : "/usr/bin:/bin")};
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

RunningSim::RunningSim(const SimStart& start)
    : m_runtime_dir(start.runtime_dir.empty() ? m_own.path() : start.runtime_dir) {
  const std::string ready = m_own / "ready";
  if (::mkfifo(ready.c_str(), 0600) != 0) {
    throw std::runtime_error("cannot make the ready FIFO");
  }
  // Opened before the sim starts, without blocking, so that a sim that
  // dies at start cannot leave the test waiting.
  const zelko_ipc::Fd reader(::open(ready.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  std::vector<std::string> argv = {sim_path(), "--ready-file", ready};
  argv.insert(argv.end(), start.flags.begin(), start.flags.end());
  std::vector<char*> args;
  for (std::string& a : argv) {
    args.push_back(a.data());
  }
  args.push_back(nullptr);
  std::vector<std::string> env = environment();
  std::vector<char*> envp;
  for (std::string& e : env) {
    envp.push_back(e.data());
  }
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, (m_own / "log").c_str(),
                                   O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  if (start.own_process_group) {
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
  }
  const int spawned =
      ::posix_spawn(&m_pid, argv[0].c_str(), &actions, &attributes, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) {
    throw std::runtime_error("cannot start derodi-sim");
  }
  for (int i = 0; i < 600; ++i) {
    pollfd waiting{reader.get(), POLLIN, 0};
    const bool woken = ::poll(&waiting, 1, 100) > 0;
    if (woken && (waiting.revents & POLLIN) != 0) {
      return;
    }
    // A sim that gives up ends the FIFO without a line, then exits.
    if (woken || ::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
      wait();
      throw std::runtime_error("derodi-sim exited at start: " + log());
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

std::vector<pid_t> processes_mentioning(const std::string& text) {
  std::vector<pid_t> found;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) {
      continue;
    }
    std::string command = read_file(entry.path() / "cmdline");
    for (char& c : command) {
      c = c == '\0' ? ' ' : c;
    }
    if (command.find(text) != std::string::npos) {
      found.push_back(std::stoi(name));
    }
  }
  return found;
}

}  // namespace zelko_test
