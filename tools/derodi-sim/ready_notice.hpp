// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <functional>
#include <future>
#include <string>

namespace derodi_sim {

/// Tells whoever waits for the sim that it listens: writes a line to a
/// path as a shell's ">" would, on a thread of its own, as the open of a
/// FIFO waits for its reader.
class ReadyNotice {
 public:
  /// Starts delivering `line` to `path`; `on_failure` is told why it failed.
  ReadyNotice(std::string path, std::string line,
              std::function<void(const std::string&)> on_failure);
  ReadyNotice(const ReadyNotice&) = delete;
  ReadyNotice& operator=(const ReadyNotice&) = delete;
  /// A delivery still waiting for a reader is given up: nothing is written.
  ~ReadyNotice();

  /// For a sim that cannot start: a reader of the FIFO `path`, there now
  /// or within a few seconds, gets the end of the stream and no line.
  static void let_waiting_reader_go(const std::string& path);

 private:
  std::string m_path;
  std::atomic<bool> m_given_up = false;
  std::future<void> m_delivery;
};

}  // namespace derodi_sim
