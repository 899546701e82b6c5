// SPDX-License-Identifier: MIT
#include "console.hpp"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "zelko/ipc/terminal.hpp"

namespace zelko_cli {

namespace {

// How much of `text` may be encoded at once without cutting a character in
// two: `size` bytes, or fewer so as to end before a continuation byte.
std::size_t whole_characters(std::string_view text, std::size_t size) {
  std::size_t cut = size;
  while (cut > 0 && cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
    --cut;
  }
  return cut > 0 ? cut : size;
}

// Writes all of `bytes` to `fd`. A descriptor that another program made
// non-blocking (standard output is shared) is waited on when it is full.
std::expected<void, zelko_ipc::WriteError> write_waiting(int fd, std::string_view bytes) {
  while (true) {
    auto written = zelko_ipc::write_all(fd, bytes);
    if (written || (written.error().code != EAGAIN && written.error().code != EWOULDBLOCK)) {
      return written;
    }
    bytes.remove_prefix(written.error().written);
    pollfd room{fd, POLLOUT, 0};
    ::poll(&room, 1, -1);
  }
}

}  // namespace

template <class Encode>
void Sink::put_encoded(std::string_view text, std::size_t expansion, Encode encode) {
  while (!text.empty()) {
    if (k_capacity - m_used < k_least_room) {
      write_out();
    }
    const std::size_t fits = (k_capacity - m_used) / expansion;
    const std::size_t take = whole_characters(text, std::min(text.size(), fits));
    m_used = static_cast<std::size_t>(encode(m_data + m_used, text.substr(0, take)) - m_data);
    text.remove_prefix(take);
  }
}

void Sink::put_json(std::string_view foreign) {
  put("\"");
  put_encoded(foreign, k_json_expansion,
              is_terminal() ? write_json_escaped_for_terminal : write_json_escaped);
  put("\"");
}

Sink& Sink::message(const zelko_ipc::Message& message) {
  message.for_each_part(
      [&](std::string_view part, bool foreign) { foreign ? field(part) : text(part); });
  return *this;
}

void Sink::put_for_terminal(std::string_view foreign) {
  put_encoded(foreign, zelko_ipc::k_terminal_expansion, zelko_ipc::write_for_terminal);
}

void Sink::put_large(std::string_view bytes) {
  while (!bytes.empty()) {
    if (m_used == k_capacity) {
      write_out();
    }
    const std::size_t take = std::min(bytes.size(), k_capacity - m_used);
    std::memcpy(m_data + m_used, bytes.data(), take);
    m_used += take;
    bytes.remove_prefix(take);
  }
}

void Sink::detect_terminal() {
  // Asked once, and only by a report that holds foreign text.
  m_terminal = ::isatty(m_fd) == 1;
}

void Sink::write_out() {
  if (!m_error && m_used > 0) {
    if (auto written = write_waiting(m_fd, {m_data, m_used}); !written) {
      m_error = std::move(written.error());
    }
  }
  m_used = 0;
}

std::expected<void, zelko_ipc::WriteError> Sink::flush() {
  write_out();
  if (m_error) {
    return std::unexpected(*m_error);
  }
  return {};
}

void Console::show_progress() {
  // A progress line that cannot be shown is no reason to stop the command.
  (void)err.flush();
}

}  // namespace zelko_cli
