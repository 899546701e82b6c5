// SPDX-License-Identifier: MIT
#pragma once

#include <unistd.h>

#include <utility>

namespace zelko_ipc {

/// Owns one file descriptor and closes it when it goes out of scope.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : m_fd(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd(Fd&& other) noexcept : m_fd(other.release()) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      reset(other.release());
    }
    return *this;
  }
  ~Fd() { reset(); }

  [[nodiscard]] int get() const { return m_fd; }
  explicit operator bool() const { return m_fd >= 0; }

  /// Gives up ownership without closing.
  [[nodiscard]] int release() { return std::exchange(m_fd, -1); }

  /// Closes the descriptor held now, if any, and takes `fd` instead.
  void reset(int fd = -1) {
    if (m_fd >= 0) {
      ::close(m_fd);
    }
    m_fd = fd;
  }

 private:
  int m_fd = -1;
};

}  // namespace zelko_ipc
