// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <expected>
#include <mutex>
#include <string>
#include <string_view>

#include "stop_signals.hpp"
#include "zelko/ipc/fd.hpp"

namespace derodi_sim {

/// The phone's user, asked on the sim's controlling terminal, one question
/// at a time, as ssh-agent -c asks through an askpass program.
class Asker {
 public:
  /// Opens the controlling terminal; fails when the sim has none.
  [[nodiscard]] static std::expected<Asker, std::string> open();

  Asker(Asker&& other) noexcept : m_terminal(std::move(other.m_terminal)) {}

  enum class Answer { answered, unanswered, not_shown, client_left, stopping };

  /// Asks `question` and waits for a line, whose first word, in lower
  /// case, is `word` when it is answered. Within `limit` the question must
  /// be shown (a terminal that does not take it, its output paused, is
  /// not_shown) and a line typed (or it is unanswered); a client that
  /// leaves, or a sim that stops, ends the question first.
  [[nodiscard]] Answer ask(std::string_view question, const HangUpWatch& client,
                           std::chrono::seconds limit, std::string& word);

 private:
  explicit Asker(zelko_ipc::Fd terminal) : m_terminal(std::move(terminal)) {}

  zelko_ipc::Fd m_terminal;
  std::mutex m_mutex;  // one question at a time
};

}  // namespace derodi_sim
