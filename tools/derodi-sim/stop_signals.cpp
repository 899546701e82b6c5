// SPDX-License-Identifier: MIT
#include "stop_signals.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>

#include "zelko/ipc/os_error.hpp"

namespace derodi_sim {

namespace {

int g_stop_fd = -1;

void on_stop_signal(int) {
  const int saved = errno;
  const std::uint64_t one = 1;
  if (::write(g_stop_fd, &one, sizeof one) < 0) {
    // The counter is full: a stop is asked for already.
  }
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
  const std::uint64_t one = 1;
  if (::write(m_fd.get(), &one, sizeof one) < 0) {
    // The counter is full: a stop is asked for already.
  }
}

bool Stop::requested() const {
  pollfd stop{m_fd.get(), POLLIN, 0};
  return ::poll(&stop, 1, 0) > 0;
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
  const auto deadline = std::chrono::steady_clock::now() + time;
  while (true) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    // Only a hang-up is looked for (it comes unasked): anything the client
    // sends meanwhile is for whoever reads next, and a client that has only
    // shut its sending side still waits for its answer.
    pollfd watched[2] = {{m_connection, 0, 0}, {m_stop.fd(), POLLIN, 0}};
    const int ready = ::poll(watched, 2, static_cast<int>(std::max<long>(left.count(), 0)));
    if (ready > 0) {
      return false;
    }
    if (ready == 0) {
      return true;
    }
    if (errno != EINTR) {
      return false;
    }
  }
}

}  // namespace derodi_sim
