// SPDX-License-Identifier: MIT
#include "agent.hpp"

#include <poll.h>
#include <signal.h>
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

// A line of the agent's is shown up to this many characters.
constexpr std::size_t k_shown_characters = 200;

// How long the agent has to start listening, and to stop.
constexpr auto k_start_time = 10s;
constexpr auto k_stop_time = 1s;

// Whether the stream `fd` ends within `limit` (a wait no stop cuts short).
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
  const OutputStream errors{agent.m_errors.get(), &why};
  (void)read_output(std::span(&errors, 1), stop, std::chrono::steady_clock::now() + 200ms, -1,
                    true);
  why.erase(why.find_last_not_of("\r\n") + 1);
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
  // ssh-add reaches the agent's directory by the descriptor it is passed.
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
      // Their group, and the guardian by name, so that the wait always ends.
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

std::expected<void, std::string> Agent::tell_errors(Log& log, bool quiet, const Stop& stop) const {
  std::string said;
  const OutputStream errors{m_errors.get(), &said};
  while (read_output(std::span(&errors, 1), stop, k_no_deadline, -1, true) == Waited::ready) {
    const std::size_t end = said.find('\n');
    if (end == std::string::npos && said.size() < k_line_limit) {
      stop.request();
      return std::unexpected(std::string("the ssh-agent has exited; stopping"));
    }
    std::string_view line = std::string_view(said).substr(0, end);
    line = line.substr(0, line.find_last_not_of('\r') + 1);
    if (!quiet) {
      log.write(concat("derodi-sim: agent: ", foreign(line, k_shown_characters)));
    }
    said.erase(0, end == std::string::npos ? end : end + 1);
  }
  return {};
}

}  // namespace derodi_sim
