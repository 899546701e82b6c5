// SPDX-License-Identifier: MIT
#include "stop_signals.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <vector>

#include "zelko/ipc/os_error.hpp"

namespace derodi_sim {

namespace {

int g_stop_fd = -1;

// Adds one to the counter of the eventfd `fd` (a full one has been told).
void add_one(int fd) {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(fd, &one, sizeof one);
}

void on_stop_signal(int) {
  const int saved = errno;
  add_one(g_stop_fd);
  errno = saved;
}

}  // namespace

std::expected<Stop, std::string> Stop::make() {
  zelko_ipc::Fd fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!fd) {
    return std::unexpected(zelko_ipc::describe_os_error(errno));
  }
  return Stop(std::move(fd));
}

void Stop::request() const {
  add_one(m_fd.get());
}

bool Stop::requested() const {
  pollfd stop{m_fd.get(), POLLIN, 0};
  return zelko_ipc::daemon::wait_until(std::span(&stop, 1), std::chrono::steady_clock::now());
}

Waited Stop::wait(std::span<pollfd> watched, Deadline deadline, int client) const {
  std::vector<pollfd> all(watched.begin(), watched.end());
  // Only a hang-up is looked for on the client's connection.
  all.push_back({client, 0, 0});
  all.push_back({m_fd.get(), POLLIN, 0});
  const bool ready = zelko_ipc::daemon::wait_until(all, deadline);
  std::copy(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(watched.size()),
            watched.begin());
  if (all.back().revents != 0) {
    return Waited::stopping;
  }
  if (all[watched.size()].revents != 0) {
    return Waited::client_left;
  }
  return ready ? Waited::ready : Waited::timed_out;
}

void catch_stop_signals(const Stop& stop) {
  g_stop_fd = stop.fd();
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (const int signal : k_stop_signals) {
    ::sigaction(signal, &action, nullptr);
  }
  for (const int signal : {SIGPIPE, SIGTTOU, SIGTTIN}) {
    std::signal(signal, SIG_IGN);
  }
}

void stop_at_once_on_signals() {
  for (const int signal : k_stop_signals) {
    std::signal(signal, SIG_DFL);
  }
}

void open_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
      // The lowest free descriptor: this one.
      (void)::open("/dev/null", O_RDWR);
    }
  }
}

bool HangUpWatch::stays_for(std::chrono::milliseconds time) const {
  return m_stop.wait({}, std::chrono::steady_clock::now() + time, m_connection) ==
         Waited::timed_out;
}

}  // namespace derodi_sim
