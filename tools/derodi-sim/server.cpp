// SPDX-License-Identifier: MIT
#include "server.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "text.hpp"
#include "zelko/ipc/daemon_io.hpp"
#include "zelko/ipc/os_error.hpp"

namespace derodi_sim {

Server::Server(Listener listener, Handler handler, const Stop& stop)
    : m_listener(std::move(listener)),
      m_handler(std::move(handler)),
      m_stop(stop),
      m_spare(::open("/dev/null", O_RDONLY | O_CLOEXEC)) {
  m_acceptor = std::thread([this] { accept_loop(); });
}

Server::~Server() {
  stop();
}

void Server::accept_loop() {
  while (m_stop.wait(m_listener.fd(), POLLIN) == Waited::ready) {
    zelko_ipc::Fd fd(::accept4(m_listener.fd(), nullptr, nullptr, SOCK_CLOEXEC));
    const int error = errno;
    join_finished();
    if (fd) {
      serve(std::move(fd));
    } else if (error == EMFILE || error == ENFILE) {
      turn_away();
    } else if (error == ENOBUFS || error == ENOMEM) {
      // Out of memory: a pause rather than a spin before the next try.
      (void)m_stop.wait({}, std::chrono::steady_clock::now() + std::chrono::milliseconds(100));
    }
  }
}

void Server::turn_away() {
  // Out of descriptors: the one held back makes room to accept the client
  // and close it at once, so it sees the end and nothing spins.
  m_spare.reset();
  zelko_ipc::Fd turned_away(::accept4(m_listener.fd(), nullptr, nullptr, SOCK_CLOEXEC));
  turned_away.reset();
  m_spare.reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
}

void Server::serve(zelko_ipc::Fd fd) {
  const std::lock_guard lock(m_mutex);
  Connection& connection = m_connections.emplace_back();
  connection.fd = std::move(fd);
  try {
    connection.thread = std::thread([this, &connection] {
      m_handler(connection.fd.get());
      // Closed under the lock, so that stop() never shuts down a number
      // another connection took since.
      const std::lock_guard done(m_mutex);
      connection.fd.reset();
      connection.done = true;
    });
  } catch (const std::system_error&) {
    // No thread to be had: this client is turned away.
    m_connections.pop_back();
  }
}

void Server::join_finished() {
  // A thread marked done has let go of the lock for good.
  const std::lock_guard lock(m_mutex);
  for (auto at = m_connections.begin(); at != m_connections.end();) {
    if (at->done) {
      at->thread.join();
      at = m_connections.erase(at);
    } else {
      ++at;
    }
  }
}

void Server::stop() {
  if (!m_acceptor.joinable()) {
    return;
  }
  m_stop.request();
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

std::expected<void, std::string> check_socket_path(const std::string& path) {
  if (path.size() > k_longest_socket_path) {
    return std::unexpected(concat("the socket path ", path, " is ", std::to_string(path.size()),
                                  " bytes long, and a socket path can be at most ",
                                  std::to_string(k_longest_socket_path),
                                  ": use a shorter runtime directory"));
  }
  return {};
}

std::expected<Listener, std::string> Listener::open(const TrustedDirectory& directory,
                                                    const std::string& name) {
  const std::string pending = name + ".pending";
  const std::string path = directory.path() + "/" + name;
  ::unlinkat(directory.fd(), pending.c_str(), 0);
  // Only this user may connect: the socket is made without group or other bits.
  const mode_t previous = ::umask(077);
  auto socket = zelko_ipc::daemon::listen_unix(directory.through_fd(pending));
  ::umask(previous);
  struct stat made {};
  if (!socket || ::renameat(directory.fd(), pending.c_str(), directory.fd(), name.c_str()) != 0 ||
      ::fstatat(directory.fd(), name.c_str(), &made, AT_SYMLINK_NOFOLLOW) != 0) {
    const std::string reason = socket ? zelko_ipc::describe_os_error(errno) : socket.error();
    ::unlinkat(directory.fd(), pending.c_str(), 0);
    return std::unexpected("cannot listen on " + path + ": " + reason);
  }
  return Listener(std::move(*socket), directory, name, made.st_dev, made.st_ino);
}

Listener::~Listener() {
  struct stat now {};
  if (m_fd && ::fstatat(m_directory->fd(), m_name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
      now.st_dev == m_device && now.st_ino == m_inode) {
    ::unlinkat(m_directory->fd(), m_name.c_str(), 0);
  }
}

}  // namespace derodi_sim
