#pragma once

#include <cstddef>
#include <cstring>
#include <expected>
#include <string>
#include <string_view>

#include "json.hpp"

namespace zelko_cli {

/// A buffered writer for one standard stream. Texts of the program's own go
/// in with `text`; texts that came from elsewhere (the daemon, the
/// environment, the arguments) go in with `field` or `json`, which keep them
/// exact on pipes and files and show them safely on a terminal.
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
    if (m_kind == Kind::other && json_string_room(foreign.size()) <= k_capacity - m_used) {
      m_used = static_cast<std::size_t>(write_json_string(m_data + m_used, foreign) - m_data);
    } else {
      put_json_slowly(foreign);
    }
    return *this;
  }

  /// Writes out everything buffered so far. Returns the first write failure
  /// this sink has met; after one, nothing more is written.
  [[nodiscard]] std::expected<void, std::string> flush();

 private:
  // Large reports leave in chunks of this size rather than all at the end.
  static constexpr std::size_t k_capacity = 64 * 1024;

  void put(std::string_view bytes) {
    if (bytes.size() <= k_capacity - m_used) {
      std::memcpy(m_data + m_used, bytes.data(), bytes.size());
      m_used += bytes.size();
    } else {
      put_large(bytes);
    }
  }

  bool is_terminal() {
    if (m_kind == Kind::unknown) {
      detect_terminal();
    }
    return m_kind == Kind::terminal;
  }

  void put_large(std::string_view bytes);
  void put_for_terminal(std::string_view foreign);
  void put_json_slowly(std::string_view foreign);
  void detect_terminal();
  void write_out(std::string_view bytes);

  int m_fd;
  std::size_t m_used = 0;
  std::string m_error;
  enum class Kind { unknown, terminal, other } m_kind = Kind::unknown;
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
