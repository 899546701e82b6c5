// SPDX-License-Identifier: MIT
#include "output_file.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "zelko/ipc/fd.hpp"
#include "zelko/ipc/io.hpp"
#include "zelko/ipc/os_error.hpp"

namespace zelko_cli {

namespace {

// Holds off the signals that end a program from a terminal or a service
// manager while it lives; one that comes meanwhile is delivered after.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
      sigaddset(&held, signal);
    }
    ::sigprocmask(SIG_BLOCK, &held, &m_before);
  }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;
  ~SignalsHeld() { ::sigprocmask(SIG_SETMASK, &m_before, nullptr); }

 private:
  sigset_t m_before;
};

// Writes `text` and a newline at the descriptor's offset. The error number
// of a failure, or 0.
int write_line(int fd, std::string_view text) {
  for (const std::string_view part : {text, std::string_view("\n")}) {
    if (auto written = zelko_ipc::write_all(fd, part); !written) {
      return written.error().code != 0 ? written.error().code : EIO;
    }
  }
  return 0;
}

// Replaces the content of the regular file `fd` (at offset 0) with `text`
// and a newline, in place, so that the old content is never lost to a full
// disk or the size limit, and a signal leaves the old line or the new one.
// The error number of a failure, or 0.
int replace_content(int fd, off_t old_size, std::string_view text) {
  const auto size = static_cast<off_t>(text.size() + 1);
  const SignalsHeld held;
  // Room first: a disk too full or a size limit too low refuses the
  // reservation, and the file is put back to its old size. A file system
  // that cannot reserve room is written all the same.
  if (::fallocate(fd, 0, 0, size) != 0 && errno != EOPNOTSUPP && errno != ENOSYS) {
    const int error = errno;
    if (::ftruncate(fd, old_size) != 0) {
      return errno;
    }
    return error;
  }
  if (const int error = write_line(fd, text); error != 0) {
    return error;
  }
  return ::ftruncate(fd, size) == 0 ? 0 : errno;
}

Message cannot_write(std::string_view file, int error) {
  return Message("cannot write ").foreign(file).own(": ").own(zelko_ipc::describe_os_error(error));
}

}  // namespace

Outcome write_line_to(std::string_view file, std::string_view text) {
  const std::string path(file);
  zelko_ipc::Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666));
  struct stat opened {};
  if (!fd || ::fstat(fd.get(), &opened) != 0) {
    return std::unexpected(cannot_write(file, errno));
  }
  const int error = S_ISREG(opened.st_mode) ? replace_content(fd.get(), opened.st_size, text)
                                            : write_line(fd.get(), text);
  if (error != 0) {
    return std::unexpected(cannot_write(file, error));
  }
  // A failed flush or close can be the first news of a failed write.
  if ((S_ISREG(opened.st_mode) && ::fsync(fd.get()) != 0) || ::close(fd.release()) != 0) {
    return std::unexpected(cannot_write(file, errno));
  }
  return {};
}

}  // namespace zelko_cli
