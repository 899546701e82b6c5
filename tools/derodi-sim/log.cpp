// SPDX-License-Identifier: MIT
#include "log.hpp"

#include <limits.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <span>

#include "text.hpp"
#include "zelko/ipc/daemon_io.hpp"

namespace derodi_sim {

Log::Log(int fd)
    : m_state(std::make_shared<State>(fd)), m_writer([state = m_state] { run(state); }) {}

Log::~Log() {
  stop();
}

void Log::write(std::string line) {
  // A line a pipe takes at once never waits half written: a longer one
  // (the sim's lines are made to fit) is cut between characters.
  if (line.size() >= PIPE_BUF) {
    std::size_t end = PIPE_BUF - 4;
    while (end > 0 && (static_cast<unsigned char>(line[end]) & 0xC0) == 0x80) {
      --end;
    }
    line.resize(end);
    line += "...";
  }
  line.push_back('\n');
  State& state = *m_state;
  const std::lock_guard lock(state.mutex);
  if (state.lines.size() >= k_capacity) {
    ++state.dropped;
    return;
  }
  state.lines.push_back(std::move(line));
  state.changed.notify_all();
}

void Log::run(const std::shared_ptr<State>& shared) {
  State& state = *shared;
  std::unique_lock lock(state.mutex);
  while (true) {
    state.changed.wait(lock, [&] { return !state.lines.empty() || state.stopping; });
    // Stopping, what is queued still goes out while the log takes it.
    if (state.lines.empty()) {
      break;
    }
    const std::string line = std::move(state.lines.front());
    state.lines.pop_front();
    lock.unlock();
    const bool written = write_out(state, line);
    lock.lock();
    if (!written) {
      break;
    }
    if (state.lines.empty() && state.dropped > 0) {
      state.lines.push_back(concat("derodi-sim: ", std::to_string(state.dropped),
                                   " log line(s) dropped while nothing read the log\n"));
      state.dropped = 0;
    }
  }
  state.done = true;
  state.changed.notify_all();
}

bool Log::write_out(State& state, const std::string& line) {
  std::size_t done = 0;
  while (done < line.size()) {
    // A stop does not cut this wait short: the stop has lines to tell.
    pollfd room{state.fd, POLLOUT, 0};
    (void)zelko_ipc::daemon::wait_until(std::span(&room, 1), zelko_ipc::daemon::k_no_deadline);
    const ssize_t written = ::write(state.fd, line.data() + done, line.size() - done);
    if (written < 0 && (errno == EINTR || errno == EAGAIN)) {
      continue;
    }
    if (written <= 0) {
      // Nobody can read it (a closed pipe): the log is done, the sim is not.
      return false;
    }
    done += static_cast<std::size_t>(written);
  }
  return true;
}

void Log::stop(std::chrono::milliseconds grace) {
  if (!m_writer.joinable()) {
    return;
  }
  State& state = *m_state;
  std::unique_lock lock(state.mutex);
  state.stopping = true;
  state.changed.notify_all();
  const bool done = state.changed.wait_for(lock, grace, [&] { return state.done; });
  lock.unlock();
  // A writer still waiting keeps the state alive until the process ends.
  if (done) {
    m_writer.join();
  } else {
    m_writer.detach();
  }
}

}  // namespace derodi_sim
