// SPDX-License-Identifier: MIT
#include "output_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>
#include <string>

#include "zelko/ipc/fd.hpp"
#include "zelko/ipc/io.hpp"
#include "zelko/ipc/os_error.hpp"

namespace zelko_cli {

namespace {

Message cannot_write(std::string_view file, std::string_view error) {
  return Message("cannot write ").foreign(file).own(": ").own(error);
}

std::string directory_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    return ".";
  }
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Where a write to `path` lands: the file at the end of its symbolic links,
// or nothing when the links lead into /proc (as /dev/stdout does), whose
// links name open files rather than paths that may be replaced.
std::optional<std::string> final_path(std::string path) {
  constexpr int k_most_links = 40;
  for (int hop = 0; hop < k_most_links; ++hop) {
    struct stat link {};
    if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) {
      return path;
    }
    if (path.starts_with("/proc/")) {
      return std::nullopt;
    }
    std::string target(PATH_MAX, '\0');
    const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
    if (length < 0) {
      return std::nullopt;
    }
    target.resize(static_cast<std::size_t>(length));
    path = target.starts_with('/') ? target : directory_of(path) + "/" + target;
  }
  // A loop of links: the direct write reports it.
  return std::nullopt;
}

// Writes `text` and a newline to the open descriptor `fd`.
std::expected<void, std::string> write_line(int fd, std::string_view text) {
  for (const std::string_view part : {text, std::string_view("\n")}) {
    if (auto written = zelko_ipc::write_all(fd, part); !written) {
      return std::unexpected(std::move(written.error().text));
    }
  }
  return {};
}

// Creates or truncates `file` and writes the line into it in place.
Outcome write_in_place(std::string_view file, std::string_view text) {
  const std::string path(file);
  zelko_ipc::Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!fd) {
    return std::unexpected(cannot_write(file, zelko_ipc::describe_os_error(errno)));
  }
  if (auto written = write_line(fd.get(), text); !written) {
    return std::unexpected(cannot_write(file, written.error()));
  }
  // A failed close can be the first news of a failed write on some file systems.
  if (::close(fd.release()) != 0) {
    return std::unexpected(cannot_write(file, zelko_ipc::describe_os_error(errno)));
  }
  return {};
}

// A new file beside the one it is to replace, made with the permission
// bits a new file gets (0666 before the umask), and removed again unless
// it takes that file's place.
class Replacement {
 public:
  explicit Replacement(const std::string& target) : m_target(target) {
    // The first free name of a few: one that exists (another run's, or one
    // left by a run that died) is passed over, never followed or reused.
    const std::string stem = directory_of(target) + "/.zelko-cli.new.";
    for (int attempt = 0; attempt < 100 && !m_fd; ++attempt) {
      m_path = stem + "." + std::to_string(attempt);
      m_fd.reset(
          ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
      m_error = m_fd ? 0 : errno;
      if (m_error != EEXIST) {
        break;
      }
    }
    m_made = static_cast<bool>(m_fd);
  }
  Replacement(const Replacement&) = delete;
  Replacement& operator=(const Replacement&) = delete;
  ~Replacement() {
    if (m_made && !m_placed) {
      ::unlink(m_path.c_str());
    }
  }

  /// The error number that kept the file from being made, or 0.
  [[nodiscard]] int error() const { return m_error; }
  [[nodiscard]] int fd() const { return m_fd.get(); }

  /// Flushes the file to disk, closes it and renames it over the target.
  std::expected<void, int> put_in_place() {
    if (::fsync(m_fd.get()) != 0 || ::close(m_fd.release()) != 0 ||
        ::rename(m_path.c_str(), m_target.c_str()) != 0) {
      return std::unexpected(errno);
    }
    m_placed = true;
    return {};
  }

 private:
  std::string m_target;
  std::string m_path;
  zelko_ipc::Fd m_fd;
  int m_error = 0;
  bool m_made = false;
  bool m_placed = false;
};

// True when a directory's refusal to take a new file is reason to write in place.
bool refuses_new_files(int error) {
  return error == EACCES || error == EPERM || error == EROFS || error == ENAMETOOLONG;
}

}  // namespace

Outcome write_line_to(std::string_view file, std::string_view text) {
  const auto target = final_path(std::string(file));
  struct stat existing {};
  // The target is no symbolic link: lstat says what stat would.
  const bool exists = target && ::lstat(target->c_str(), &existing) == 0;
  if (!target || (exists && !S_ISREG(existing.st_mode))) {
    return write_in_place(file, text);
  }
  Replacement replacement(*target);
  if (refuses_new_files(replacement.error())) {
    return write_in_place(file, text);
  }
  if (replacement.error() != 0) {
    return std::unexpected(cannot_write(file, zelko_ipc::describe_os_error(replacement.error())));
  }
  // The new file takes the old one's owner and permission bits; one whose
  // owner cannot be kept is written in place instead. (Giving a file the
  // owner it has already always succeeds.)
  if (exists) {
    if (::fchown(replacement.fd(), existing.st_uid, existing.st_gid) != 0) {
      return write_in_place(file, text);
    }
    if (::fchmod(replacement.fd(), existing.st_mode & 07777) != 0) {
      return std::unexpected(cannot_write(file, zelko_ipc::describe_os_error(errno)));
    }
  }
  if (auto written = write_line(replacement.fd(), text); !written) {
    return std::unexpected(cannot_write(file, written.error()));
  }
  if (auto placed = replacement.put_in_place(); !placed) {
    return std::unexpected(cannot_write(file, zelko_ipc::describe_os_error(placed.error())));
  }
  return {};
}

}  // namespace zelko_cli
