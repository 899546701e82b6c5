// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>

namespace derodi_sim {

/// The other end of one connection, as the phone sees it while the user
/// decides: it may hang up, and the sim may stop, before they have.
class Client {
 public:
  explicit Client(int fd) : m_fd(fd) {}

  /// Waits `time`; false when the client closed the connection or it was
  /// shut down (the sim is stopping) before it passed. A client that only
  /// shut its sending side stays.
  [[nodiscard]] bool stays_for(std::chrono::milliseconds time) const;

  [[nodiscard]] int fd() const { return m_fd; }

 private:
  int m_fd;
};

}  // namespace derodi_sim
