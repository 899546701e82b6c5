#include "running_sim.hpp"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace zelko_test {

std::string sim_path() {
  return DERODI_SIM_PATH;
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

RunningSim::RunningSim(const std::vector<std::string>& flags) {
  std::vector<std::string> argv = {sim_path()};
  argv.insert(argv.end(), flags.begin(), flags.end());
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
  if (::posix_spawn(&m_pid, argv[0].c_str(), nullptr, nullptr, args.data(), envp.data()) != 0) {
    throw std::runtime_error("cannot start derodi-sim");
  }
  for (int i = 0; i < 1000; ++i) {
    struct stat info {};
    if (::stat(control_socket().c_str(), &info) == 0) {
      return;
    }
    if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
      m_pid = -1;
      throw std::runtime_error("derodi-sim exited at start");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  throw std::runtime_error("derodi-sim did not start listening");
}

int RunningSim::stop() {
  if (m_pid < 0) {
    return -1;
  }
  ::kill(m_pid, SIGTERM);
  int status = 0;
  ::waitpid(m_pid, &status, 0);
  m_pid = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

RunningSim::~RunningSim() {
  stop();
}

}  // namespace zelko_test
