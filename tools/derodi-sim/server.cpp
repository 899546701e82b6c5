// SPDX-License-Identifier: MIT
#include "server.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace derodi_sim {

Server::Server(Listener listener, Handler handler)
    : m_listener(std::move(listener)), m_handler(std::move(handler)) {
  int ends[2] = {-1, -1};
  if (::pipe2(ends, O_CLOEXEC) == 0) {
    m_wake_read.reset(ends[0]);
    m_wake_write.reset(ends[1]);
  }
  m_acceptor = std::thread([this] { accept_loop(); });
}

Server::~Server() {
  stop();
}

void Server::accept_loop() {
  while (true) {
    pollfd waiting[2] = {{m_listener.fd(), POLLIN, 0}, {m_wake_read.get(), POLLIN, 0}};
    if (::poll(waiting, 2, -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      return;
    }
    if (waiting[1].revents != 0) {
      return;
    }
    zelko_ipc::Fd fd(::accept4(m_listener.fd(), nullptr, nullptr, SOCK_CLOEXEC));
    const int error = errno;
    join_finished();
    if (fd) {
      serve(std::move(fd));
    } else if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM) {
      // Out of descriptors or memory, the connection waits in the backlog:
      // a pause (cut short by stop), not a spin, before the next try.
      pollfd wake{m_wake_read.get(), POLLIN, 0};
      ::poll(&wake, 1, 100);
    }
  }
}

void Server::serve(zelko_ipc::Fd fd) {
  const std::lock_guard lock(m_mutex);
  Connection& connection = m_connections.emplace_back();
  connection.fd = std::move(fd);
  try {
    connection.thread = std::thread([this, &connection] {
      m_handler(connection.fd.get());
      // Closed at once, so the client sees the end; under the lock, so that
      // stop() never shuts down a number another connection took since.
      const std::lock_guard done(m_mutex);
      connection.fd.reset();
      connection.done = true;
    });
  } catch (const std::system_error&) {
    // No thread to be had: this client is turned away (its connection
    // closes), the others are served on.
    m_connections.pop_back();
  }
}

void Server::join_finished() {
  std::list<Connection> finished;
  {
    const std::lock_guard lock(m_mutex);
    for (auto at = m_connections.begin(); at != m_connections.end();) {
      const auto next = std::next(at);
      if (at->done) {
        finished.splice(finished.end(), m_connections, at);
      }
      at = next;
    }
  }
  for (Connection& connection : finished) {
    connection.thread.join();
  }
}

void Server::stop() {
  if (!m_acceptor.joinable()) {
    return;
  }
  const char wake = 1;
  if (::write(m_wake_write.get(), &wake, 1) != 1) {
    // The pipe is empty and open: a byte always goes in.
  }
  m_acceptor.join();
  {
    const std::lock_guard lock(m_mutex);
    for (Connection& connection : m_connections) {
      if (!connection.done) {
        ::shutdown(connection.fd.get(), SHUT_RDWR);
      }
    }
  }
  // No new connection comes now: every thread can be joined outside the lock.
  for (Connection& connection : m_connections) {
    connection.thread.join();
  }
  m_connections.clear();
}

}  // namespace derodi_sim
