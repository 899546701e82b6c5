// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

namespace zelko_test {

/// What the scripted daemon does with each connection it accepts.
struct Script {
  /// Raw bytes sent back once the request frame has been read (a whole
  /// frame, part of one, or nothing at all).
  std::string reply;
  /// When false, the connection is closed at once, before reading anything.
  bool read_request = true;
  /// When non-zero, the reply is sent one byte at a time with this pause.
  std::chrono::milliseconds drip{0};
};

/// A stand-in for the daemon that listens on
/// "{runtime_dir}/zelko/control.sock", records what clients send and
/// answers every connection with the same scripted bytes.
class ScriptedDaemon {
 public:
  ScriptedDaemon(const std::string& runtime_dir, Script script);
  ScriptedDaemon(const ScriptedDaemon&) = delete;
  ScriptedDaemon& operator=(const ScriptedDaemon&) = delete;
  ~ScriptedDaemon();

  /// Stops serving and removes the socket file.
  void stop();

  /// Waits (a few seconds at most) until every accepted connection is closed.
  void wait_idle() const;

  /// How many connections were accepted.
  [[nodiscard]] int connections() const;
  /// The raw bytes of the requests received, concatenated.
  [[nodiscard]] std::string received() const;

 private:
  void serve();
  void handle(int connection);

  Script m_script;
  std::string m_path;
  int m_listener = -1;
  std::atomic<bool> m_stopping{false};
  mutable std::mutex m_mutex;
  int m_connections = 0;
  int m_finished = 0;
  std::string m_received;
  std::thread m_thread;
};

/// A frame: the 4-byte big-endian length of `body`, then `body`.
[[nodiscard]] std::string frame(std::string_view body);

}  // namespace zelko_test
