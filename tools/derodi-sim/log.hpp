// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace derodi_sim {

/// The sim's log on a descriptor, written by a thread of its own so that
/// no decision waits for its reader: a full queue drops lines (their count
/// is told later), and a stop gives what is left only a moment.
class Log {
 public:
  explicit Log(int fd);
  Log(const Log&) = delete;
  Log& operator=(const Log&) = delete;
  ~Log();

  /// Queues `line` (without its newline; foreign texts in it quoted).
  void write(std::string line);

  /// Writes what is queued within `grace`, then stops the writer.
  void stop(std::chrono::milliseconds grace = std::chrono::milliseconds(500));

 private:
  // Shared with the writer, which may outlive the log when a write of its
  // never returns (a terminal held with Ctrl-S).
  struct State {
    explicit State(int log_fd) : fd(log_fd) {}
    int fd;
    std::mutex mutex;  // guards what follows
    std::condition_variable changed;
    std::deque<std::string> lines;
    std::size_t dropped = 0;
    bool stopping = false;
    bool done = false;
  };

  static void run(const std::shared_ptr<State>& state);
  static bool write_out(State& state, const std::string& line);

  static constexpr std::size_t k_capacity = 256;

  std::shared_ptr<State> m_state;
  std::thread m_writer;
};

}  // namespace derodi_sim
