// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace derodi_sim {

/// Tells whoever waits for the sim that it listens: writes a line (the
/// agent endpoint) to a path as a shell's ">" would, so every check the
/// kernel makes for a redirect applies. A FIFO is written into once a
/// reader opens it: the open waits for the reader, on a thread of its own.
class ReadyNotice {
 public:
  /// Starts delivering `line` to `path`; `on_failure` is told why, should
  /// the delivery fail.
  ReadyNotice(std::string path, std::string line,
              std::function<void(const std::string&)> on_failure);
  ReadyNotice(const ReadyNotice&) = delete;
  ReadyNotice& operator=(const ReadyNotice&) = delete;
  /// A delivery still waiting for a reader is given up: nothing is written.
  ~ReadyNotice();

  /// Waits at most `limit` for the delivery to be over; true when it is.
  bool wait_for(std::chrono::milliseconds limit);

  /// For a sim that cannot start: a reader of the FIFO at `path`, there
  /// now or within a few seconds, gets the end of the stream and no line;
  /// anything that is not a FIFO is left alone.
  static void let_waiting_reader_go(const std::string& path);

 private:
  void deliver(const std::string& line, const std::function<void(const std::string&)>& on_failure);

  std::string m_path;
  std::mutex m_mutex;  // guards what follows
  std::condition_variable m_changed;
  bool m_done = false;
  bool m_given_up = false;
  std::thread m_writer;
};

}  // namespace derodi_sim
