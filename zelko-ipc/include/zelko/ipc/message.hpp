// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zelko_ipc {

/// A failure message: the program's own words with foreign texts (a path
/// from the environment, the daemon's words, an argument as typed) set in
/// them. Kept in parts, so that whoever shows it can tell the two apart
/// (a terminal gets the foreign parts escaped), and so that a long foreign
/// text joins a message without being copied.
class Message {
 public:
  Message() = default;
  /// A message in the program's own words.
  explicit Message(std::string_view own) { this->own(own); }

  /// A message that is a foreign text alone, taken over without a copy.
  [[nodiscard]] static Message foreign_text(std::string text) {
    Message message;
    message.m_parts.push_back({std::move(text), true});
    return message;
  }

  /// Appends words of the program's own.
  Message& own(std::string_view text) & {
    m_parts.push_back({std::string(text), false});
    return *this;
  }
  Message&& own(std::string_view text) && { return std::move(own(text)); }

  /// Appends a foreign text.
  Message& foreign(std::string_view text) & {
    m_parts.push_back({std::string(text), true});
    return *this;
  }
  Message&& foreign(std::string_view text) && { return std::move(foreign(text)); }

  /// Appends `text` between single quotation marks, the way messages name
  /// the value they are about.
  Message& quoted(std::string_view text) & { return own("'").foreign(text).own("'"); }
  Message&& quoted(std::string_view text) && { return std::move(quoted(text)); }

  /// True when the whole text holds `needle`, wherever the parts meet.
  [[nodiscard]] bool contains(std::string_view needle) const;

  /// The whole text, parts joined.
  [[nodiscard]] std::string text() const;

  [[nodiscard]] bool empty() const;

  /// Calls `each(text, foreign)` for every part in order.
  template <class Each>
  void for_each_part(Each each) const {
    for (const Part& part : m_parts) {
      each(std::string_view(part.text), part.foreign);
    }
  }

  bool operator==(const Message&) const = default;

 private:
  struct Part {
    std::string text;
    bool foreign;
    bool operator==(const Part&) const = default;
  };
  std::vector<Part> m_parts;
};

}  // namespace zelko_ipc
