// SPDX-License-Identifier: MIT
#include "trusted_directory.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <memory>
#include <optional>

#include "text.hpp"
#include "zelko/ipc/os_error.hpp"

namespace derodi_sim {

namespace {

std::string octal(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// One path being trusted: the path as given, resolved, and walked from the
// root down.
class Walk {
 public:
  explicit Walk(std::string path) : m_path(std::move(path)) {}

  // The directory at the path, opened and checked; nothing when it is
  // missing and `make` is not set.
  std::expected<std::optional<zelko_ipc::Fd>, std::string> run(bool make) {
    auto parent = resolved_parent();
    if (!parent) {
      return std::unexpected(parent.error());
    }
    auto at = open_checked_ancestors(*parent);
    if (!at) {
      return std::unexpected(at.error());
    }
    const std::string resolved = concat(*parent == "/" ? "" : *parent, "/", m_name);
    if (make && ::mkdirat(at->get(), m_name.c_str(), 0700) != 0 && errno != EEXIST) {
      return std::unexpected(
          concat("cannot create ", m_path, ": ", zelko_ipc::describe_os_error(errno)));
    }
    zelko_ipc::Fd fd(
        ::openat(at->get(), m_name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) {
      if (errno == ENOENT && !make) {
        return std::nullopt;
      }
      return std::unexpected(refusal_of_open(resolved, errno));
    }
    if (auto checked = check_own(fd.get(), resolved); !checked) {
      return std::unexpected(checked.error());
    }
    return std::optional<zelko_ipc::Fd>(std::move(fd));
  }

 private:
  // Resolves the path but its last component, which is taken as it is
  // (it may be missing); a path that resolves whole is taken resolved.
  std::expected<std::string, std::string> resolved_parent() {
    const std::unique_ptr<char, decltype(&::free)> whole(::realpath(m_path.c_str(), nullptr),
                                                         &::free);
    std::string full;
    if (whole) {
      full = whole.get();
    } else if (errno == ENOENT) {
      full = m_path;
    } else {
      return std::unexpected(
          concat("cannot look at ", m_path, ": ", zelko_ipc::describe_os_error(errno)));
    }
    while (full.size() > 1 && full.back() == '/') {
      full.pop_back();
    }
    const std::size_t slash = full.rfind('/');
    m_name = slash == std::string::npos ? full : full.substr(slash + 1);
    std::string parent =
        slash == std::string::npos ? "." : full.substr(0, std::max<std::size_t>(slash, 1));
    if (m_name.empty() || m_name == "." || m_name == "..") {
      return std::unexpected(concat("cannot look at ", m_path, ": it names no directory"));
    }
    const std::unique_ptr<char, decltype(&::free)> resolved(::realpath(parent.c_str(), nullptr),
                                                            &::free);
    if (!resolved) {
      return std::unexpected(
          concat("cannot look at ", m_path, ": ", zelko_ipc::describe_os_error(errno)));
    }
    return std::string(resolved.get());
  }

  // Opens the resolved `parent` and checks it and every directory above it,
  // going up by "..": what is checked is the chain the opened directory
  // really hangs from, whatever its path says meanwhile.
  std::expected<zelko_ipc::Fd, std::string> open_checked_ancestors(const std::string& parent) {
    zelko_ipc::Fd opened(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!opened) {
      return std::unexpected(refusal_of_open(parent, errno));
    }
    zelko_ipc::Fd at(::fcntl(opened.get(), F_DUPFD_CLOEXEC, 0));
    std::string component = parent;
    while (true) {
      if (auto checked = check_ancestor(at.get(), component); !checked) {
        return std::unexpected(checked.error());
      }
      zelko_ipc::Fd up(::openat(at.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      struct stat here {};
      struct stat above {};
      if (!up || ::fstat(at.get(), &here) != 0 || ::fstat(up.get(), &above) != 0) {
        return std::unexpected(refusal_of_open(component, errno));
      }
      if (here.st_dev == above.st_dev && here.st_ino == above.st_ino) {
        return opened;  // the root
      }
      const std::size_t slash = component.rfind('/');
      component = slash == 0 || slash == std::string::npos ? "/" : component.substr(0, slash);
      at = std::move(up);
    }
  }

  std::expected<void, std::string> check_ancestor(int fd, const std::string& component) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
      return std::unexpected(refusal_of_open(component, errno));
    }
    if (info.st_uid != 0 && info.st_uid != ::geteuid()) {
      return unsafe(concat(component, " belongs to uid ", std::to_string(info.st_uid),
                           ", neither to root nor to uid ", std::to_string(::geteuid())));
    }
    const bool shared_like_tmp = (info.st_mode & S_ISVTX) != 0 && info.st_uid == 0;
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0 && !shared_like_tmp) {
      return unsafe(concat("others can write to ", component, " (mode ", octal(info.st_mode),
                           "), which is no sticky directory of root's"));
    }
    return {};
  }

  std::expected<void, std::string> check_own(int fd, const std::string& resolved) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
      return std::unexpected(refusal_of_open(resolved, errno));
    }
    const std::string subject = subject_for(resolved);
    if (info.st_uid != ::geteuid()) {
      return unsafe(concat(subject, " belongs to uid ", std::to_string(info.st_uid),
                           ", not to uid ", std::to_string(::geteuid())));
    }
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
      return unsafe(concat("others can write to ", subject, " (mode ", octal(info.st_mode), ")"));
    }
    return {};
  }

  std::string refusal_of_open(const std::string& component, int error) {
    if (error == ELOOP) {
      return unsafe(concat(subject_for(component), " is a symbolic link")).error();
    }
    if (error == ENOTDIR) {
      return unsafe(concat(subject_for(component), " is not a directory")).error();
    }
    return concat("cannot open ", component, ": ", zelko_ipc::describe_os_error(error));
  }

  // "it" for the path as given, the component's own path otherwise.
  std::string subject_for(const std::string& component) const {
    std::string given = m_path;
    while (given.size() > 1 && given.back() == '/') {
      given.pop_back();
    }
    return component == given ? "it" : component;
  }

  std::unexpected<std::string> unsafe(const std::string& why) const {
    return std::unexpected(concat(m_path, " is not safe to use: ", why));
  }

  std::string m_path;
  std::string m_name;
};

}  // namespace

std::expected<void, std::string> TrustedDirectory::check(const std::string& path) {
  auto walked = Walk(path).run(false);
  if (!walked) {
    return std::unexpected(walked.error());
  }
  return {};
}

std::expected<TrustedDirectory, std::string> TrustedDirectory::open(const std::string& path) {
  auto walked = Walk(path).run(true);
  if (!walked) {
    return std::unexpected(walked.error());
  }
  return TrustedDirectory(std::move(**walked), path);
}

std::string TrustedDirectory::through_fd(std::string_view name) const {
  return concat("/proc/self/fd/", std::to_string(m_fd.get()), "/", name);
}

void remove_directory(int directory, const std::string& name) {
  const int fd = ::openat(directory, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    return;
  }
  DIR* listing = ::fdopendir(fd);
  if (listing == nullptr) {
    ::close(fd);
    return;
  }
  while (const dirent* entry = ::readdir(listing)) {
    const std::string_view entry_name = entry->d_name;
    if (entry_name == "." || entry_name == "..") {
      continue;
    }
    if (::unlinkat(fd, entry->d_name, 0) != 0 && errno == EISDIR) {
      remove_directory(fd, entry->d_name);
    }
  }
  ::closedir(listing);
  ::unlinkat(directory, name.c_str(), AT_REMOVEDIR);
}

std::string random_name(std::string_view prefix) {
  constexpr std::string_view letters =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  unsigned char random[6] = {};
  if (::getrandom(random, sizeof random, 0) != sizeof random) {
    // Without the kernel's randomness the names are still distinct enough
    // for an exclusive create to settle any clash.
    for (unsigned char& byte : random) {
      byte = static_cast<unsigned char>(::rand());
    }
  }
  std::string name(prefix);
  for (const unsigned char byte : random) {
    name.push_back(letters[byte % letters.size()]);
  }
  return name;
}

}  // namespace derodi_sim
