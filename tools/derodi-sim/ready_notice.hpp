// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace derodi_sim {

/// Tells whoever waits for the sim that it listens: writes a line (the
/// agent endpoint) to a path as a shell's ">" would, so every check the
/// kernel makes for a redirect applies; a FIFO is written into once a
/// reader has it open.
class ReadyNotice {
 public:
  ReadyNotice(std::string path, std::string line)
      : m_path(std::move(path)), m_line(std::move(line)) {}

  /// Tries to deliver the line; true once it is delivered or cannot be
  /// (the reason is then in `failure`). A FIFO without a reader yet is
  /// tried again at the next call.
  [[nodiscard]] bool deliver();

  [[nodiscard]] const std::string& failure() const { return m_failure; }

  /// For a sim that cannot start: a reader waiting on a FIFO at `path`
  /// gets the end of the stream, and no line; nothing else is touched.
  static void let_waiting_reader_go(const std::string& path);

 private:
  std::string m_path;
  std::string m_line;
  std::string m_failure;
};

}  // namespace derodi_sim
