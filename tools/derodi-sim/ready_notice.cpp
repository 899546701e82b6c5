// SPDX-License-Identifier: MIT
#include "ready_notice.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "zelko/ipc/fd.hpp"
#include "zelko/ipc/io.hpp"
#include "zelko/ipc/os_error.hpp"

namespace derodi_sim {

bool ReadyNotice::deliver() {
  // Not blocking: a FIFO without a reader fails at once (ENXIO) and is
  // tried again; for anything else the flag changes nothing.
  zelko_ipc::Fd fd(
      ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666));
  if (!fd && errno == ENXIO) {
    return false;
  }
  if (!fd) {
    m_failure = zelko_ipc::describe_os_error(errno);
    return true;
  }
  if (auto written = zelko_ipc::write_all(fd.get(), m_line); !written) {
    m_failure = written.error().text;
  }
  return true;
}

void ReadyNotice::let_waiting_reader_go(const std::string& path) {
  struct stat info {};
  if (!path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISFIFO(info.st_mode)) {
    const zelko_ipc::Fd fd(::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
  }
}

}  // namespace derodi_sim
