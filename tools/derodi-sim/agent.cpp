// SPDX-License-Identifier: MIT
#include "agent.hpp"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <utility>

#include "process.hpp"
#include "zelko/ipc/unix_socket.hpp"

namespace derodi_sim {

std::expected<Agent, std::string> Agent::start(const std::string& socket_path) {
  // A socket file left by an agent that is gone would keep the new one out.
  ::unlink(socket_path.c_str());
  auto pid = start_child({"ssh-agent", "-D", "-a", socket_path});
  if (!pid) {
    return std::unexpected(pid.error());
  }
  Agent agent(*pid, socket_path);
  for (int i = 0; i < 500; ++i) {
    // The socket file appears before the agent listens on it; only a
    // connection that succeeds says the agent is ready.
    if (zelko_ipc::connect_unix(socket_path)) {
      return agent;
    }
    if (agent.has_exited()) {
      return std::unexpected(std::string("ssh-agent exited at start"));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return std::unexpected("ssh-agent did not start listening on " + socket_path);
}

Agent::Agent(Agent&& other) noexcept
    : m_pid(std::exchange(other.m_pid, -1)),
      m_socket_path(std::exchange(other.m_socket_path, {})) {}

Agent::~Agent() {
  stop();
}

std::expected<void, std::string> Agent::add(const std::string& private_path) const {
  auto added = run_captured({"ssh-add", "-q", private_path}, {"SSH_AUTH_SOCK=" + m_socket_path});
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
    while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
  }
  if (!m_socket_path.empty()) {
    ::unlink(m_socket_path.c_str());
  }
}

}  // namespace derodi_sim
