// SPDX-License-Identifier: MIT
#include "ready_notice.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "zelko/ipc/fd.hpp"
#include "zelko/ipc/io.hpp"
#include "zelko/ipc/os_error.hpp"

namespace derodi_sim {

bool ReadyNotice::deliver() {
  struct stat existing {};
  const bool fifo = ::stat(m_path.c_str(), &existing) == 0 && S_ISFIFO(existing.st_mode);
  if (fifo) {
    // Without a reader the open fails at once (ENXIO), and is tried again.
    zelko_ipc::Fd fd(::open(m_path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
      if (errno == ENXIO) {
        return false;
      }
      m_failure = zelko_ipc::describe_os_error(errno);
      return true;
    }
    if (auto written = zelko_ipc::write_all(fd.get(), m_line); !written) {
      m_failure = written.error().text;
    }
    return true;
  }
  const std::string pending = m_path + ".pending";
  zelko_ipc::Fd fd(::open(pending.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd || !zelko_ipc::write_all(fd.get(), m_line) ||
      ::rename(pending.c_str(), m_path.c_str()) != 0) {
    m_failure = zelko_ipc::describe_os_error(errno);
    ::unlink(pending.c_str());
  }
  return true;
}

}  // namespace derodi_sim
