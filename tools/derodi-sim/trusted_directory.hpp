// SPDX-License-Identifier: MIT
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "zelko/ipc/fd.hpp"

namespace derodi_sim {

/// A directory the sim keeps its sockets or keys in, trusted as its path
/// will be followed: component by component from "/" (or, for a relative
/// path, from the working directory, whose chain up to "/" passes too),
/// each step opened relative to the last. Every directory on the way is
/// root's or the user's and writable by nobody else unless sticky; a link
/// on the way is root's or the user's; nothing is on /proc; the directory
/// itself is the user's alone. Later work is relative to its descriptor.
class TrustedDirectory {
 public:
  /// Walks `path`, making nothing (a missing last component is left to
  /// make()); or one line naming the component and what is wrong.
  [[nodiscard]] static std::expected<TrustedDirectory, std::string> find(const std::string& path);

  /// Makes the directory with mode 0700 when find() found it missing.
  [[nodiscard]] std::expected<void, std::string> make();

  [[nodiscard]] int fd() const { return m_fd.get(); }

  /// The path as it was given, for messages and for clients.
  [[nodiscard]] const std::string& path() const { return m_path; }

  /// A path to `name` in it through its descriptor, for calls that take
  /// only a path (bind, connect, mkdtemp).
  [[nodiscard]] std::string through_fd(std::string_view name) const;

  /// Takes the directory's lock for as long as it is open; false when
  /// another process holds it.
  [[nodiscard]] bool lock() const;

  /// Makes a new directory in it (0700, `prefix` and six random
  /// characters) and gives its name.
  [[nodiscard]] std::expected<std::string, std::string> make_private(std::string_view prefix) const;

  /// Removes `name` in it, and what it holds, never following a link.
  void remove(std::string_view name) const;

 private:
  TrustedDirectory(zelko_ipc::Fd fd, zelko_ipc::Fd parent, std::string name, std::string path)
      : m_path(std::move(path)),
        m_name(std::move(name)),
        m_fd(std::move(fd)),
        m_parent(std::move(parent)) {}

  std::string m_path;
  std::string m_name;      // its name in m_parent
  zelko_ipc::Fd m_fd;      // none until make() when it was missing
  zelko_ipc::Fd m_parent;  // while it is missing: the directory it is made in
};

}  // namespace derodi_sim
