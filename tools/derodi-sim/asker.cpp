// SPDX-License-Identifier: MIT
#include "asker.hpp"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

#include "zelko/ipc/io.hpp"
#include "zelko/ipc/os_error.hpp"

namespace derodi_sim {

std::expected<Asker, std::string> Asker::open() {
  zelko_ipc::Fd terminal(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!terminal) {
    return std::unexpected("--ask needs a terminal to ask on: " +
                           zelko_ipc::describe_os_error(errno));
  }
  return Asker(std::move(terminal));
}

Asker::Answer Asker::ask(std::string_view question, const Client& client,
                         const std::atomic<bool>& stopping, std::chrono::seconds limit) {
  const std::lock_guard lock(m_mutex);
  const int terminal = m_terminal.get();
  // Only what is typed after the question answers it.
  ::tcflush(terminal, TCIFLUSH);
  std::string prompt = "derodi-sim: phone: ";
  prompt.append(question).append("? [y/N] ");
  (void)zelko_ipc::write_all(terminal, prompt);
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::string line;
  Answer answer = Answer::unanswered;
  while (std::chrono::steady_clock::now() < deadline) {
    if (stopping) {
      answer = Answer::stopping;
      break;
    }
    pollfd watched[2] = {{terminal, POLLIN, 0}, {client.fd(), 0, 0}};
    if (::poll(watched, 2, 100) <= 0) {
      continue;
    }
    if (watched[1].revents != 0) {
      answer = Answer::client_left;
      break;
    }
    char typed[256];
    const ssize_t got = ::read(terminal, typed, sizeof typed);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      break;  // the terminal is gone, or the sim is in the background
    }
    line.append(typed, static_cast<std::size_t>(got));
    if (const std::size_t end = line.find('\n'); end != std::string::npos) {
      std::string word;
      for (const char c : line.substr(0, end)) {
        if (std::isspace(static_cast<unsigned char>(c)) == 0) {
          word.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
        }
      }
      return word == "y" || word == "yes" ? Answer::yes : Answer::no;
    }
  }
  (void)zelko_ipc::write_all(terminal, "\n");
  return answer;
}

}  // namespace derodi_sim
