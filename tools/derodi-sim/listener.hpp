// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <expected>
#include <string>

#include "zelko/ipc/fd.hpp"

namespace derodi_sim {

/// A listening socket at a path of the sim's own. It is bound under a
/// temporary name and moved into place once it listens, so that a client
/// that finds the file can always connect, and replaces a stale socket file
/// left there. At the end it removes the file, if the file is still the one
/// it made.
class Listener {
 public:
  [[nodiscard]] static std::expected<Listener, std::string> open(const std::string& path);

  Listener(Listener&& other) noexcept = default;
  Listener& operator=(Listener&&) = delete;
  ~Listener();

  [[nodiscard]] int fd() const { return m_fd.get(); }
  [[nodiscard]] const std::string& path() const { return m_path; }

 private:
  Listener(zelko_ipc::Fd fd, std::string path, dev_t device, ino_t inode)
      : m_fd(std::move(fd)), m_path(std::move(path)), m_device(device), m_inode(inode) {}

  zelko_ipc::Fd m_fd;
  std::string m_path;
  dev_t m_device = 0;
  ino_t m_inode = 0;
};

}  // namespace derodi_sim
