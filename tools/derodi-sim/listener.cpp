// SPDX-License-Identifier: MIT
#include "listener.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "zelko/ipc/daemon_io.hpp"
#include "zelko/ipc/os_error.hpp"

namespace derodi_sim {

std::expected<Listener, std::string> Listener::open(const std::string& path) {
  const std::string pending = path + ".pending";
  ::unlink(pending.c_str());
  // Only this user may connect: the socket is made without group or other bits.
  const mode_t previous = ::umask(077);
  auto socket = zelko_ipc::daemon::listen_unix(pending);
  ::umask(previous);
  struct stat made {};
  if (!socket || ::rename(pending.c_str(), path.c_str()) != 0 || ::stat(path.c_str(), &made) != 0) {
    const std::string reason = socket ? zelko_ipc::describe_os_error(errno) : socket.error();
    ::unlink(pending.c_str());
    return std::unexpected("cannot listen on " + path + ": " + reason);
  }
  return Listener(std::move(*socket), path, made.st_dev, made.st_ino);
}

Listener::~Listener() {
  struct stat now {};
  if (m_fd && ::lstat(m_path.c_str(), &now) == 0 && now.st_dev == m_device &&
      now.st_ino == m_inode) {
    ::unlink(m_path.c_str());
  }
}

}  // namespace derodi_sim
