#pragma once

#include <expected>
#include <string>
#include <string_view>

namespace zelko_cli {

/// A buffered writer for one standard stream. Texts of the program's own go
/// in with `text`; texts that came from elsewhere (the daemon, the
/// environment, the arguments) go in with `field` or `json`, which keep them
/// exact on pipes and files and show them safely on a terminal.
class Sink {
 public:
  explicit Sink(int fd) : m_fd(fd) {}

  Sink& text(std::string_view own);
  Sink& field(std::string_view foreign);
  /// Appends `foreign` as a JSON string literal.
  Sink& json(std::string_view foreign);

  /// Writes out everything buffered so far. Returns the first write failure
  /// this sink has met; after one, nothing more is written.
  [[nodiscard]] std::expected<void, std::string> flush();

 private:
  void drain_if_full();
  bool is_terminal();

  int m_fd;
  std::string m_buffer;
  std::string m_error;
  enum class Kind { unknown, terminal, other } m_kind = Kind::unknown;
};

/// The two streams a command writes to: its report on standard output, its
/// progress and confirmation lines on standard error.
struct Console {
  Sink out{1};
  Sink err{2};

  /// Writes a progress line (with its newline) to standard error at once.
  void progress(std::string_view line);
};

}  // namespace zelko_cli
