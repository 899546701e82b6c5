#include "agent.hpp"

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

#include "process.hpp"
#include "zelko/ipc/fd.hpp"

namespace derodi_sim {

namespace {

bool accepts_connections(const std::string& socket_path) {
  zelko_ipc::Fd probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (!probe || socket_path.size() >= sizeof address.sun_path) {
    return false;
  }
  std::memcpy(address.sun_path, socket_path.c_str(), socket_path.size() + 1);
  return ::connect(probe.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

}  // namespace

std::expected<Agent, std::string> Agent::start(const std::string& socket_path) {
  ::unlink(socket_path.c_str());
  auto pid = start_background({"ssh-agent", "-D", "-a", socket_path});
  if (!pid) {
    return std::unexpected(pid.error());
  }
  Agent agent(*pid, socket_path);
  for (int i = 0; i < 500; ++i) {
    // The socket file appears before the agent listens on it; only a
    // connection that succeeds says the agent is ready.
    if (accepts_connections(socket_path)) {
      return agent;
    }
    int status = 0;
    if (::waitpid(*pid, &status, WNOHANG) == *pid) {
      agent.m_pid = -1;
      return std::unexpected("ssh-agent exited at start");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return std::unexpected("ssh-agent did not start listening on " + socket_path);
}

Agent::Agent(Agent&& other) noexcept
    : m_pid(std::exchange(other.m_pid, -1)), m_socket_path(std::move(other.m_socket_path)) {}

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

void Agent::stop() {
  if (m_pid <= 0) {
    return;
  }
  ::kill(m_pid, SIGTERM);
  while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  m_pid = -1;
  ::unlink(m_socket_path.c_str());
}

}  // namespace derodi_sim
