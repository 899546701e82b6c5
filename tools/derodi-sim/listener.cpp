// SPDX-License-Identifier: MIT
#include "listener.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "text.hpp"
#include "zelko/ipc/daemon_io.hpp"
#include "zelko/ipc/os_error.hpp"

namespace derodi_sim {

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
