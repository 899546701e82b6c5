// SPDX-License-Identifier: MIT
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "zelko/ipc/fd.hpp"

namespace derodi_sim {

/// A directory the sim keeps its sockets or keys in, trusted along its
/// whole path, as OpenSSH trusts the files it reads: the path is resolved
/// once (a trailing slash, ".", ".." and symbolic links are followed there
/// and only there), then the directory is opened (never following a link)
/// and it and every directory it hangs from, up to the root, are checked:
/// each a directory owned by root or
/// the sim's user, and writable by nobody else unless it is a sticky
/// directory of root's (like /tmp); the directory itself the sim user's
/// and writable by nobody else. What was checked is what stays open: every
/// later operation is relative to its descriptor, so no rename or
/// re-pointed link can swap it.
class TrustedDirectory {
 public:
  /// Checks `path` as open does, without making or keeping anything; a
  /// missing last component passes. On failure, one line naming the path,
  /// the component and what is wrong with it.
  [[nodiscard]] static std::expected<void, std::string> check(const std::string& path);

  /// Opens the directory at `path`, making its last component with mode
  /// 0700 when it is missing.
  [[nodiscard]] static std::expected<TrustedDirectory, std::string> open(const std::string& path);

  [[nodiscard]] int fd() const { return m_fd.get(); }

  /// The path as it was given, for messages.
  [[nodiscard]] const std::string& path() const { return m_path; }

  /// A path to `name` in it by way of its descriptor, for the calls that
  /// take nothing but a path (bind, connect).
  [[nodiscard]] std::string through_fd(std::string_view name) const;

 private:
  TrustedDirectory(zelko_ipc::Fd fd, std::string path)
      : m_fd(std::move(fd)), m_path(std::move(path)) {}

  zelko_ipc::Fd m_fd;
  std::string m_path;
};

/// Removes the directory `name` in the directory `directory` (a
/// descriptor), and what it holds, never following a link.
void remove_directory(int directory, const std::string& name);

/// A name in a directory no other name there has: `prefix` and six random
/// letters or digits.
[[nodiscard]] std::string random_name(std::string_view prefix);

}  // namespace derodi_sim
