// SPDX-License-Identifier: MIT
#include "trusted_directory.hpp"

#include <fcntl.h>
#include <linux/magic.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <vector>

#include "text.hpp"
#include "zelko/ipc/os_error.hpp"

namespace derodi_sim {

namespace {

// As many links as the kernel follows in one path.
constexpr int k_link_limit = 40;

// How each step is opened: needing, as the kernel does, only to search it.
constexpr int k_step = O_PATH | O_DIRECTORY | O_CLOEXEC;

std::string octal(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

bool ours(uid_t owner) {
  return owner == 0 || owner == ::geteuid();
}

// `name` in the directory named `directory` (as the walk names them).
std::string joined(const std::string& directory, std::string_view name) {
  if (directory == ".") {
    return std::string(name);
  }
  return concat(directory, directory.ends_with('/') ? "" : "/", name);
}

// One directory of the walk, open, named as the walk reached it.
struct Step {
  zelko_ipc::Fd fd;
  std::string name;
};

// What a walk finds: the directory, or where to make it when it is missing.
struct Found {
  zelko_ipc::Fd fd;
  zelko_ipc::Fd parent;
  std::string name;
};

// One path being trusted, walked as the kernel walks it.
class Walk {
 public:
  explicit Walk(std::string path)
      : m_path(std::move(path)), m_given(without_final_slashes(m_path)) {}

  std::expected<Found, std::string> run() {
    if (m_path.empty()) {
      return std::unexpected(std::string("cannot look at '': it names no directory"));
    }
    if (auto start = start_chain(); !start) {
      return std::unexpected(start.error());
    }
    std::deque<std::string> left = components(m_path);
    while (!left.empty()) {
      const std::string part = std::move(left.front());
      left.pop_front();
      if (part == "..") {
        if (m_chain.size() > 1) {
          m_chain.pop_back();
        }
        continue;
      }
      const Step& here = m_chain.back();
      const std::string name = joined(here.name, part);
      struct stat entry {};
      if (::fstatat(here.fd.get(), part.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT && left.empty()) {
          return Found{{}, zelko_ipc::Fd(::fcntl(here.fd.get(), F_DUPFD_CLOEXEC, 0)), part};
        }
        return std::unexpected(cannot_open(name, errno));
      }
      if (S_ISLNK(entry.st_mode)) {
        if (auto followed = follow(here, part, name, entry, left); !followed) {
          return std::unexpected(followed.error());
        }
        continue;
      }
      zelko_ipc::Fd fd(::openat(here.fd.get(), part.c_str(), k_step | O_NOFOLLOW));
      if (!fd) {
        return std::unexpected(cannot_open(name, errno));
      }
      // The last one is checked once, as the end, below.
      const auto passed =
          left.empty() ? std::expected<void, std::string>{} : check(fd.get(), name, false);
      if (!passed) {
        return std::unexpected(passed.error());
      }
      m_chain.push_back({std::move(fd), name});
    }
    if (auto own = check(m_chain.back().fd.get(), m_chain.back().name, true); !own) {
      return std::unexpected(own.error());
    }
    // Opened for reading at last: to be locked and listed.
    zelko_ipc::Fd end(::openat(m_chain.back().fd.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!end) {
      return std::unexpected(cannot_open(m_chain.back().name, errno));
    }
    return Found{std::move(end), {}, {}};
  }

  // Off /proc; passed through, root's or the user's and writable by nobody
  // else unless sticky; at the `end`, the user's alone.
  std::expected<void, std::string> check(int fd, const std::string& name, bool end) const {
    struct stat info {};
    struct statfs system {};
    if (::fstat(fd, &info) != 0 || ::fstatfs(fd, &system) != 0) {
      return std::unexpected(cannot_open(name, errno));
    }
    if (system.f_type == PROC_SUPER_MAGIC) {
      return unsafe(concat(subject(name), " is on /proc, the processes' file system"));
    }
    if (end ? info.st_uid != ::geteuid() : !ours(info.st_uid)) {
      return unsafe(concat(subject(name), " belongs to uid ", std::to_string(info.st_uid),
                           end ? ", not to uid " : ", neither to root nor to uid ",
                           std::to_string(::geteuid())));
    }
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (end || (info.st_mode & S_ISVTX) == 0)) {
      return unsafe(concat("others can write to ", subject(name), " (mode ", octal(info.st_mode),
                           end ? ")" : "), which is not sticky"));
    }
    return {};
  }

  std::string cannot_open(const std::string& name, int error) const {
    if (error == ENOTDIR) {
      return unsafe(concat(subject(name), " is not a directory")).error();
    }
    return concat("cannot open ", name, ": ", zelko_ipc::describe_os_error(error));
  }

 private:
  // The path's words between slashes, "." and empty ones left out.
  static std::deque<std::string> components(std::string_view path) {
    std::deque<std::string> parts;
    std::size_t at = 0;
    for (auto part = next_word(path, at, "/"); !part.empty(); part = next_word(path, at, "/")) {
      if (part != ".") {
        parts.emplace_back(part);
      }
    }
    return parts;
  }

  // The chain a path starts from: "/", or the working directory and all
  // above it. The root is found by going up, as the kernel does (an
  // emulator may show "/" as another tree), or else opened by name.
  std::expected<void, std::string> start_chain() {
    const bool absolute = m_path.front() == '/';
    std::vector<Step> up;
    zelko_ipc::Fd at(::openat(AT_FDCWD, ".", k_step));
    for (std::string name = "."; at; name = name == "." ? ".." : name + "/..") {
      zelko_ipc::Fd above(::openat(at.get(), "..", k_step));
      struct stat here {};
      struct stat there {};
      if (!above || ::fstat(at.get(), &here) != 0 || ::fstat(above.get(), &there) != 0) {
        break;
      }
      const bool root = here.st_dev == there.st_dev && here.st_ino == there.st_ino;
      up.push_back({std::move(at), root ? "/" : name});
      if (root) {
        break;
      }
      at = std::move(above);
    }
    if ((up.empty() || up.back().name != "/") && absolute) {
      up.clear();
      up.push_back({zelko_ipc::Fd(::openat(AT_FDCWD, "/", k_step)), "/"});
    }
    if (up.empty() || !up.back().fd || up.back().name != "/") {
      return std::unexpected(concat("cannot look at ", m_path,
                                    ": the working directory's chain cannot be followed up to /"));
    }
    const std::size_t keep = absolute ? 1 : up.size();
    for (std::size_t i = 0; i < keep; ++i) {
      Step& step = up[up.size() - 1 - i];
      if (auto passed = check(step.fd.get(), step.name, false); !passed) {
        return passed;
      }
      m_chain.push_back(std::move(step));
    }
    return {};
  }

  // Follows the link `part` of `here` if root or the user made it.
  std::expected<void, std::string> follow(const Step& here, const std::string& part,
                                          const std::string& name, const struct stat& entry,
                                          std::deque<std::string>& left) {
    if (++m_links > k_link_limit) {
      return unsafe(concat(name, " leads through more than ", std::to_string(k_link_limit),
                           " symbolic links"));
    }
    if (!ours(entry.st_uid)) {
      return unsafe(concat(name, " is a symbolic link of uid ", std::to_string(entry.st_uid),
                           ", neither root's nor uid ", std::to_string(::geteuid()), "'s"));
    }
    std::string target(static_cast<std::size_t>(entry.st_size) + 1, '\0');
    const ssize_t length = ::readlinkat(here.fd.get(), part.c_str(), target.data(), target.size());
    if (length < 0 || static_cast<std::size_t>(length) >= target.size() || length == 0) {
      return std::unexpected(concat("cannot read the link ", name));
    }
    target.resize(static_cast<std::size_t>(length));
    std::deque<std::string> parts = components(target);
    left.insert(left.begin(), parts.begin(), parts.end());
    if (target.front() == '/') {
      m_chain.resize(1);
    }
    return {};
  }

  static std::string without_final_slashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
      path.pop_back();
    }
    return path;
  }

  // "it" for the path as given, the component's own name otherwise.
  std::string subject(const std::string& name) const {
    return without_final_slashes(name) == m_given ? "it" : name;
  }

  std::unexpected<std::string> unsafe(const std::string& why) const {
    return std::unexpected(concat(m_path, " is not safe to use: ", why));
  }

  std::string m_path;
  std::string m_given;  // without trailing slashes
  std::vector<Step> m_chain;
  int m_links = 0;
};

}  // namespace

std::expected<TrustedDirectory, std::string> TrustedDirectory::find(const std::string& path) {
  auto found = Walk(path).run();
  if (!found) {
    return std::unexpected(found.error());
  }
  return TrustedDirectory(std::move(found->fd), std::move(found->parent), std::move(found->name),
                          path);
}

std::expected<void, std::string> TrustedDirectory::make() {
  if (m_fd) {
    return {};
  }
  if (::mkdirat(m_parent.get(), m_name.c_str(), 0700) != 0 && errno != EEXIST) {
    return std::unexpected(
        concat("cannot create ", m_path, ": ", zelko_ipc::describe_os_error(errno)));
  }
  const Walk walk(m_path);
  zelko_ipc::Fd fd(
      ::openat(m_parent.get(), m_name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) {
    return std::unexpected(walk.cannot_open(m_path, errno));
  }
  if (auto own = walk.check(fd.get(), m_path, true); !own) {
    return own;
  }
  m_fd = std::move(fd);
  m_parent.reset();
  return {};
}

std::string TrustedDirectory::through_fd(std::string_view name) const {
  return concat("/proc/self/fd/", std::to_string(m_fd.get()), "/", name);
}

bool TrustedDirectory::lock() const {
  return ::flock(m_fd.get(), LOCK_EX | LOCK_NB) == 0;
}

std::expected<std::string, std::string> TrustedDirectory::make_private(
    std::string_view prefix) const {
  std::string made = through_fd(concat(prefix, "XXXXXX"));
  if (::mkdtemp(made.data()) == nullptr) {
    return std::unexpected(
        concat("cannot make a directory in ", m_path, ": ", zelko_ipc::describe_os_error(errno)));
  }
  return made.substr(made.rfind('/') + 1);
}

void TrustedDirectory::remove(std::string_view name) const {
  std::error_code ignored;
  std::filesystem::remove_all(through_fd(name), ignored);
}

}  // namespace derodi_sim
