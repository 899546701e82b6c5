// SPDX-License-Identifier: MIT
#include "agent.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <utility>

#include "process.hpp"
#include "text.hpp"
#include "zelko/ipc/os_error.hpp"

namespace derodi_sim {

namespace {

using namespace std::chrono_literals;

constexpr std::string_view k_socket = "/socket";

// How long the agent has to start listening, and to stop.
constexpr auto k_start_time = 10s;
constexpr auto k_stop_time = 1s;

// Waits until the stream `fd` ends or `limit` passes; true when it ended.
// (The sim is stopping: this wait is one a stop does not cut short.)
bool wait_for_end(int fd, std::chrono::milliseconds limit) {
  const Deadline deadline = std::chrono::steady_clock::now() + limit;
  pollfd watched{fd, POLLIN, 0};
  while (zelko_ipc::daemon::wait_until(std::span(&watched, 1), deadline)) {
    char chunk[512];
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::expected<Agent, std::string> Agent::start(const TrustedDirectory& directory,
                                               const Stop& stop) {
  // Nobody can have made, or reach, a directory that did not exist before.
  auto name = directory.make_private("agent.");
  if (!name) {
    return std::unexpected(name.error());
  }
  auto child =
      start_child({"ssh-agent", "-D", "-a", *name + std::string(k_socket)}, directory.fd());
  if (!child) {
    directory.remove(*name);
    return std::unexpected(child.error());
  }
  Agent agent(directory, child->guardian, std::move(child->errors), *name);
  // ssh-agent -D says where it listens once it does: "SSH_AUTH_SOCK=...".
  std::string said;
  const OutputStream output{child->output.get(), &said};
  if (read_output(std::span(&output, 1), stop, std::chrono::steady_clock::now() + k_start_time, -1,
                  true) == Waited::stopping) {
    return std::unexpected(std::string("stopped while ssh-agent started"));
  }
  if (said.starts_with("SSH_AUTH_SOCK=")) {
    return agent;
  }
  // What it said on standard error says why.
  std::string why;
  const OutputStream errors{agent.errors(), &why};
  (void)read_output(std::span(&errors, 1), stop, std::chrono::steady_clock::now() + 200ms, -1,
                    true);
  while (!why.empty() && (why.back() == '\n' || why.back() == '\r')) {
    why.pop_back();
  }
  return std::unexpected(why.empty() ? std::string("ssh-agent did not start listening")
                                     : "ssh-agent could not start: " + why.substr(0, 512));
}

Agent::Agent(Agent&& other) noexcept
    : m_directory(other.m_directory),
      m_pid(std::exchange(other.m_pid, -1)),
      m_errors(std::move(other.m_errors)),
      m_name(std::exchange(other.m_name, {})) {}

Agent::~Agent() {
  stop();
}

std::string Agent::socket_path() const {
  return m_directory->through_fd(m_name + std::string(k_socket));
}

std::expected<std::string, std::string> Agent::add(const TrustedDirectory& keys, const Key& key,
                                                   const Stop& stop) const {
  // ssh-add runs among the keys, and reaches the agent's directory by the
  // descriptor it is passed.
  const std::string socket =
      concat("/proc/self/fd/", std::to_string(k_passed_fd), "/", m_name, k_socket);
  return run_captured({"ssh-add", "-q", key.file}, {"SSH_AUTH_SOCK=" + socket},
                      RunLimits{keys.fd(), 10s, stop, nullptr, m_directory->fd()});
}

void Agent::stop() {
  if (m_pid > 0) {
    ::kill(m_pid, SIGTERM);
    // Its standard error ends when the agent and its guardian have gone.
    if (!wait_for_end(m_errors.get(), k_stop_time)) {
      // The guardian and the agent share a process group; the guardian is
      // killed by name too, so that the wait below always ends.
      ::kill(-m_pid, SIGKILL);
      ::kill(m_pid, SIGKILL);
    }
    while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
  }
  if (!m_name.empty()) {
    m_directory->remove(m_name);
    m_name.clear();
  }
}

namespace {

// A line of the agent's is shown up to this many characters; what it would
// send beyond a line this long is told as such.
constexpr std::size_t k_line_characters = 200;

}  // namespace

bool AgentErrors::read_from(int fd) {
  char chunk[4096];
  const ssize_t got = ::read(fd, chunk, sizeof chunk);
  if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
    return true;
  }
  if (got <= 0) {
    return false;
  }
  m_pending.append(chunk, static_cast<std::size_t>(got));
  std::size_t end;
  while ((end = m_pending.find('\n')) != std::string::npos || m_pending.size() > 4096) {
    end = std::min(end, m_pending.size());
    std::string_view line = std::string_view(m_pending).substr(0, end);
    line = line.substr(0, line.find_last_not_of('\r') + 1);
    if (!m_quiet) {
      m_log.write(concat("derodi-sim: agent: ", foreign(line, k_line_characters)));
    }
    m_pending.erase(0, std::min(end + 1, m_pending.size()));
  }
  return true;
}

}  // namespace derodi_sim
