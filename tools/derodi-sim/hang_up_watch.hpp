// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>

#include "stop_signals.hpp"

namespace derodi_sim {

/// Watches one client's connection for a hang-up while the phone's user
/// decides: the client may leave, and the sim may stop, before they have.
class HangUpWatch {
 public:
  HangUpWatch(int connection, const Stop& stop) : m_connection(connection), m_stop(stop) {}

  /// Waits `time`; false when the client closed the connection, or the
  /// sim is stopping, before it passed. A client that only shut its
  /// sending side stays.
  [[nodiscard]] bool stays_for(std::chrono::milliseconds time) const;

  /// False once the client has left or the sim is stopping; never waits.
  [[nodiscard]] bool stays() const { return stays_for(std::chrono::milliseconds(0)); }

  [[nodiscard]] int connection() const { return m_connection; }
  [[nodiscard]] const Stop& stop() const { return m_stop; }

 private:
  int m_connection;
  const Stop& m_stop;
};

}  // namespace derodi_sim
