// SPDX-License-Identifier: MIT
#include "asker.hpp"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

#include "process.hpp"
#include "text.hpp"
#include "zelko/ipc/os_error.hpp"

namespace derodi_sim {

namespace {

using Clock = std::chrono::steady_clock;

Asker::Answer answer_for(Waited waited) {
  return waited == Waited::client_left ? Asker::Answer::client_left
         : waited == Waited::stopping  ? Asker::Answer::stopping
                                       : Asker::Answer::unanswered;
}

// Writes `text` to the terminal before `deadline`; how that ended.
Waited show(int terminal, std::string_view text, const HangUpWatch& client,
            Clock::time_point deadline) {
  while (!text.empty()) {
    if (const Waited waited = client.stop().wait(terminal, POLLOUT, deadline, client.connection());
        waited != Waited::ready) {
      return waited;
    }
    const ssize_t written = ::write(terminal, text.data(), text.size());
    if (written < 0 && (errno == EINTR || errno == EAGAIN)) {
      continue;
    }
    if (written <= 0) {
      return Waited::timed_out;
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return Waited::ready;
}

}  // namespace

std::expected<Asker, std::string> Asker::open() {
  // Its own open file description: not blocking is for the sim alone.
  zelko_ipc::Fd terminal(::open("/dev/tty", O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!terminal) {
    return std::unexpected("--ask needs a terminal to ask on: " +
                           zelko_ipc::describe_os_error(errno));
  }
  return Asker(std::move(terminal));
}

Asker::Answer Asker::ask(std::string_view question, const HangUpWatch& client,
                         std::chrono::seconds limit, std::string& word) {
  const std::lock_guard lock(m_mutex);
  const int terminal = m_terminal.get();
  const auto deadline = Clock::now() + limit;
  // Only what is typed after the question answers it.
  ::tcflush(terminal, TCIFLUSH);
  const std::string prompt = concat("derodi-sim: phone: ", question, " ");
  if (const Waited shown = show(terminal, prompt, client, deadline); shown != Waited::ready) {
    return shown == Waited::timed_out ? Answer::not_shown : answer_for(shown);
  }
  std::string line;
  const OutputStream typed{terminal, &line};
  if (const Waited waited =
          read_output(std::span(&typed, 1), client.stop(), deadline, client.connection(), true);
      waited != Waited::ready) {
    // The question is closed on its own line, if the terminal takes it.
    (void)show(terminal, "\n", client, Clock::now() + std::chrono::milliseconds(100));
    return answer_for(waited);
  }
  const std::size_t end = line.find('\n');
  word.clear();
  if (end == std::string::npos) {
    // The terminal is gone (or the sim is in the background), or the line
    // is longer than any answer.
    return line.size() < k_line_limit ? Answer::unanswered : Answer::answered;
  }
  std::size_t at = 0;
  word = next_word(std::string_view(line).substr(0, end), at, " \t\r");
  for (char& c : word) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return Answer::answered;
}

}  // namespace derodi_sim
