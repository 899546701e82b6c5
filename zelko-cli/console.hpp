// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstring>
#include <expected>
#include <optional>
#include <string_view>

#include "json.hpp"
#include "zelko/ipc/io.hpp"
#include "zelko/ipc/message.hpp"

namespace zelko_cli {

/// A buffered writer for one standard stream. Texts of the program's own go
/// in with `text`; texts that came from elsewhere (the daemon, the
/// environment, the arguments) go in with `field` or `json`, which keep them
/// exact on pipes and files and show them safely on a terminal. Whatever
/// their size, they are encoded piece by piece into one fixed buffer, which
/// leaves in one write when the report fits it.
class Sink {
 public:
  explicit Sink(int fd) : m_fd(fd) {}
  Sink(const Sink&) = delete;
  Sink& operator=(const Sink&) = delete;

  Sink& text(std::string_view own) {
    put(own);
    return *this;
  }

  Sink& field(std::string_view foreign) {
    if (is_terminal()) {
      put_for_terminal(foreign);
    } else {
      put(foreign);
    }
    return *this;
  }

  /// Appends `foreign` as a JSON string literal.
  Sink& json(std::string_view foreign) {
    if (!is_terminal() && k_capacity - m_used >= 2 &&
        foreign.size() <= (k_capacity - m_used - 2) / k_json_expansion) {
      char* at = m_data + m_used;
      *at++ = '"';
      at = write_json_escaped(at, foreign);
      *at++ = '"';
      m_used = static_cast<std::size_t>(at - m_data);
      return *this;
    }
    put_json(foreign);
    return *this;
  }

  /// Appends a message: its own words as they are, its foreign texts as fields.
  Sink& message(const zelko_ipc::Message& message);

  /// Writes out everything buffered so far. Returns the first write failure
  /// this sink has met; after one, nothing more is written.
  [[nodiscard]] std::expected<void, zelko_ipc::WriteError> flush();

 private:
  static constexpr std::size_t k_capacity = 64 * 1024;
  // Encoding never starts with less room than this: enough for a few
  // characters, whatever they expand to.
  static constexpr std::size_t k_least_room = 64;

  void put(std::string_view bytes) {
    if (bytes.size() <= k_capacity - m_used) {
      std::memcpy(m_data + m_used, bytes.data(), bytes.size());
      m_used += bytes.size();
    } else {
      put_large(bytes);
    }
  }

  bool is_terminal() {
    if (!m_terminal) {
      detect_terminal();
    }
    return *m_terminal;
  }

  /// Encodes `text` with `encode`, which makes at most `expansion` bytes of
  /// each byte, into the buffer, a piece at a time.
  template <class Encode>
  void put_encoded(std::string_view text, std::size_t expansion, Encode encode);

  void put_large(std::string_view bytes);
  void put_json(std::string_view foreign);
  void put_for_terminal(std::string_view foreign);
  void detect_terminal();
  void write_out();

  int m_fd;
  std::size_t m_used = 0;
  std::optional<bool> m_terminal;
  std::optional<zelko_ipc::WriteError> m_error;
  char m_data[k_capacity];
};

/// The two streams a command writes to: its report on standard output, its
/// progress and confirmation lines on standard error.
struct Console {
  Sink out{1};
  Sink err{2};

  /// Writes a progress line (with its newline) to standard error at once.
  void progress(std::string_view line) {
    err.text(line);
    show_progress();
  }

  /// Writes out the progress text composed on `err` so far.
  void show_progress();
};

}  // namespace zelko_cli
