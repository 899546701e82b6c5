#include "console.hpp"

#include <unistd.h>

#include "json.hpp"
#include "terminal.hpp"
#include "zelko/ipc/io.hpp"

namespace zelko_cli {

void Sink::put_json_slowly(std::string_view foreign) {
  if (is_terminal()) {
    std::string literal;
    append_json_string_for_terminal(literal, foreign);
    put(literal);
    return;
  }
  write_out({m_data, m_used});
  m_used = 0;
  if (json_string_room(foreign.size()) <= k_capacity) {
    m_used = static_cast<std::size_t>(write_json_string(m_data, foreign) - m_data);
  } else {
    put_large(json_string(foreign));
  }
}

void Sink::put_large(std::string_view bytes) {
  write_out({m_data, m_used});
  m_used = 0;
  if (bytes.size() <= k_capacity) {
    std::memcpy(m_data, bytes.data(), bytes.size());
    m_used = bytes.size();
  } else {
    write_out(bytes);
  }
}

void Sink::put_for_terminal(std::string_view foreign) {
  std::string shown;
  append_for_terminal(shown, foreign);
  put(shown);
}

void Sink::detect_terminal() {
  // Asked once, and only by a report that holds foreign text.
  m_kind = ::isatty(m_fd) == 1 ? Kind::terminal : Kind::other;
}

void Sink::write_out(std::string_view bytes) {
  if (!m_error.empty() || bytes.empty()) {
    return;
  }
  if (auto written = zelko_ipc::write_all(m_fd, bytes); !written) {
    m_error = std::move(written.error());
  }
}

std::expected<void, std::string> Sink::flush() {
  write_out({m_data, m_used});
  m_used = 0;
  if (!m_error.empty()) {
    return std::unexpected(m_error);
  }
  return {};
}

void Console::show_progress() {
  // A progress line that cannot be shown is no reason to stop the command.
  (void)err.flush();
}

}  // namespace zelko_cli
