// SPDX-License-Identifier: MIT
#include "agent.hpp"

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <utility>

#include "process.hpp"
#include "zelko/ipc/os_error.hpp"
#include "zelko/ipc/unix_socket.hpp"

namespace derodi_sim {

using namespace std::chrono_literals;

std::expected<Agent, std::string> Agent::start(const std::string& directory) {
  // Nobody can have made, or reach, a directory that did not exist before.
  std::string own = directory + "/agent.XXXXXX";
  if (::mkdtemp(own.data()) == nullptr) {
    return std::unexpected("cannot make the agent's directory in " + directory + ": " +
                           zelko_ipc::describe_os_error(errno));
  }
  auto child = start_child({"ssh-agent", "-D", "-a", own + "/socket"});
  if (!child) {
    ::rmdir(own.c_str());
    return std::unexpected(child.error());
  }
  Agent agent(child->guardian, std::move(child->errors), own);
  for (int i = 0; i < 500; ++i) {
    // The socket file appears before the agent listens on it; only a
    // connection that succeeds says the agent is ready.
    if (zelko_ipc::connect_unix(agent.m_socket_path)) {
      return agent;
    }
    if (agent.has_exited()) {
      return std::unexpected(std::string("ssh-agent exited at start"));
    }
    std::this_thread::sleep_for(10ms);
  }
  return std::unexpected("ssh-agent did not start listening on " + agent.m_socket_path);
}

Agent::Agent(Agent&& other) noexcept
    : m_pid(std::exchange(other.m_pid, -1)),
      m_errors(std::move(other.m_errors)),
      m_directory(std::exchange(other.m_directory, {})),
      m_socket_path(std::exchange(other.m_socket_path, {})) {}

Agent::~Agent() {
  stop();
}

std::expected<void, std::string> Agent::add(const Key& key) const {
  auto added =
      run_captured({"ssh-add", "-q", key.private_path}, {"SSH_AUTH_SOCK=" + m_socket_path}, 10s);
  if (!added) {
    return std::unexpected(added.error());
  }
  return {};
}

bool Agent::has_exited() {
  if (m_pid > 0 && ::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
    m_pid = -1;
  }
  return m_pid <= 0;
}

void Agent::stop() {
  if (m_pid > 0) {
    ::kill(m_pid, SIGTERM);
    for (int i = 0; i < 100 && !has_exited(); ++i) {
      std::this_thread::sleep_for(10ms);
    }
    if (m_pid > 0) {
      // The guardian and the agent share a process group; the guardian is
      // killed by name too, so that the wait below always ends.
      ::kill(-m_pid, SIGKILL);
      ::kill(m_pid, SIGKILL);
      while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
      }
      m_pid = -1;
    }
  }
  if (!m_directory.empty()) {
    ::unlink(m_socket_path.c_str());
    ::rmdir(m_directory.c_str());
  }
}

}  // namespace derodi_sim
