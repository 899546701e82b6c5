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

/// The phone's user, asked on the sim's terminal, one question at a time.
class Asker {
 public:
  /// Opens the controlling terminal; fails when the sim has none.
  [[nodiscard]] static std::expected<Asker, std::string> open();

  Asker(Asker&& other) noexcept : m_terminal(std::move(other.m_terminal)) {}

  enum class Answer { answered, unanswered, not_shown, client_left, stopping };

  /// Asks `question`; `word` is the first word of the line typed, in lower
  /// case. Within `limit` the question must be shown and answered.
  [[nodiscard]] Answer ask(std::string_view question, const HangUpWatch& client,
                           std::chrono::seconds limit, std::string& word);

 private:
  explicit Asker(zelko_ipc::Fd terminal) : m_terminal(std::move(terminal)) {}

  zelko_ipc::Fd m_terminal;
  std::mutex m_mutex;  // one question at a time
};

}  // namespace derodi_sim
