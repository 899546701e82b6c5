#include "console.hpp"

#include <unistd.h>

#include "json.hpp"
#include "terminal.hpp"
#include "zelko/ipc/io.hpp"

namespace zelko_cli {

namespace {

// Large reports leave in chunks of this size rather than all at the end.
constexpr std::size_t k_chunk = 64 * 1024;

}  // namespace

Sink& Sink::text(std::string_view own) {
  m_buffer.append(own);
  drain_if_full();
  return *this;
}

Sink& Sink::field(std::string_view foreign) {
  if (is_terminal()) {
    append_for_terminal(m_buffer, foreign);
  } else {
    m_buffer.append(foreign);
  }
  drain_if_full();
  return *this;
}

Sink& Sink::json(std::string_view foreign) {
  if (is_terminal()) {
    append_json_string_for_terminal(m_buffer, foreign);
  } else {
    append_json_string(m_buffer, foreign);
  }
  drain_if_full();
  return *this;
}

bool Sink::is_terminal() {
  // Asked once, and only by a report that holds foreign text.
  if (m_kind == Kind::unknown) {
    m_kind = ::isatty(m_fd) == 1 ? Kind::terminal : Kind::other;
  }
  return m_kind == Kind::terminal;
}

void Sink::drain_if_full() {
  if (m_buffer.size() >= k_chunk) {
    (void)flush();
  }
}

std::expected<void, std::string> Sink::flush() {
  if (m_error.empty() && !m_buffer.empty()) {
    if (auto written = zelko_ipc::write_all(m_fd, m_buffer); !written) {
      m_error = std::move(written.error());
    }
  }
  m_buffer.clear();
  if (!m_error.empty()) {
    return std::unexpected(m_error);
  }
  return {};
}

void Console::progress(std::string_view line) {
  // A progress line that cannot be shown is no reason to stop the command.
  (void)err.text(line).flush();
}

}  // namespace zelko_cli
