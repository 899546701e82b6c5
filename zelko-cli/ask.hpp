// SPDX-License-Identifier: MIT
#pragma once

#include <expected>
#include <string_view>
#include <utility>
#include <variant>

#include "zelko/ipc/client.hpp"
#include "zelko/ipc/message.hpp"
#include "zelko/ipc/messages.hpp"

namespace zelko_cli {

inline constexpr std::string_view k_unexpected_answer = "unexpected answer from the daemon";

/// Sends `request` and returns the answer of the kind `Answer`. A failed
/// exchange gives its message, an error answer the daemon's text, and any
/// other answer "unexpected answer from the daemon".
template <class Answer>
[[nodiscard]] std::expected<Answer, zelko_ipc::Message> ask(zelko_ipc::ControlRequest request) {
  auto answer = zelko_ipc::client::exchange(std::move(request));
  if (!answer) {
    return std::unexpected(std::move(answer.error()));
  }
  if (auto* refused = std::get_if<zelko_ipc::ControlResponse::Error>(&answer->value)) {
    return std::unexpected(zelko_ipc::Message::foreign_text(std::move(refused->message)));
  }
  if (auto* expected = std::get_if<Answer>(&answer->value)) {
    return std::move(*expected);
  }
  return std::unexpected(zelko_ipc::Message(k_unexpected_answer));
}

}  // namespace zelko_cli
