// SPDX-License-Identifier: MIT
#include "ready_notice.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "zelko/ipc/fd.hpp"
#include "zelko/ipc/io.hpp"
#include "zelko/ipc/os_error.hpp"

namespace derodi_sim {

namespace {

// How long a sim that cannot start waits for a FIFO's reader to come.
constexpr std::chrono::seconds k_reader_time{10};

}  // namespace

ReadyNotice::ReadyNotice(std::string path, std::string line,
                         std::function<void(const std::string&)> on_failure)
    : m_path(std::move(path)) {
  m_delivery = std::async(std::launch::async, [this, line = std::move(line),
                                               on_failure = std::move(on_failure)] {
    // For a FIFO, this waits until a reader has it open.
    const zelko_ipc::Fd fd(::open(m_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    const int error = errno;
    if (m_given_up) {
      return;
    }
    std::string failure;
    if (!fd) {
      failure = zelko_ipc::describe_os_error(error);
    } else if (auto written = zelko_ipc::write_all(fd.get(), line); !written) {
      failure = written.error().text;
    }
    if (!failure.empty() && on_failure) {
      on_failure(failure);
    }
  });
}

ReadyNotice::~ReadyNotice() {
  m_given_up = true;
  // A reader that opens and leaves lets the writer go from its open, writing
  // nothing; again, should the writer come to its open only after it.
  while (m_delivery.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
    const zelko_ipc::Fd reader(::open(m_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    (void)m_delivery.wait_for(std::chrono::milliseconds(10));
  }
}

void ReadyNotice::let_waiting_reader_go(const std::string& path) {
  struct stat info {};
  if (path.empty() || ::stat(path.c_str(), &info) != 0 || !S_ISFIFO(info.st_mode)) {
    return;
  }
  ReadyNotice notice(path, "", nullptr);
  (void)notice.m_delivery.wait_for(k_reader_time);
}

}  // namespace derodi_sim
