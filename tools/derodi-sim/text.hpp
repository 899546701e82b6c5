// SPDX-License-Identifier: MIT
#pragma once

// Text the sim writes: messages, and what another program chose, shown so
// that nobody can be misled by it.

#include <cstddef>
#include <string>
#include <string_view>

namespace derodi_sim {

/// The texts one after the other, in a new string. (Used for messages
/// rather than chains of "literal" + temporary, which g++ 12 at -O3 warns
/// about falsely on some targets.)
template <class... Texts>
[[nodiscard]] std::string concat(const Texts&... texts) {
  std::string out;
  (out.append(std::string_view(texts)), ...);
  return out;
}

/// `text` between single quotation marks, as the sim's answers to clients
/// name things (the client shows them safely).
[[nodiscard]] inline std::string quoted(std::string_view text) {
  return concat("'", text, "'");
}

/// The sim's one word splitter: the next word of `text` from `at`, words
/// being separated by any run of `separators` (blanks by default), and
/// `at` moved past it; empty at the end.
std::string_view next_word(std::string_view text, std::size_t& at,
                           std::string_view separators = " \t");

/// How much of one foreign text a line shows: characters, and four bytes
/// a character of what shows them (an escape is one character of up to
/// ten bytes).
inline constexpr std::size_t k_field_characters = 64;

/// `text` that another program chose (a user name, a namespace, a key or
/// program name, a path, a host name), as the sim's lines show it: between
/// single quotes, with a quote or a backslash in it escaped by a backslash,
/// the characters unsafe to show (zelko_ipc::is_unsafe_to_show) as \xHH or
/// \u{HHHH} (bytes that are no UTF-8 as \xHH), and at most `characters` of
/// it in four times as many bytes. A longer text is cut between two
/// characters, and "..." and its whole size in bytes follow the closing
/// quote. Nothing in it can end the quotation, hide, or make a line longer
/// than the field.
[[nodiscard]] std::string foreign(std::string_view text,
                                  std::size_t characters = k_field_characters);

/// Why `name` cannot name a key on the phone, in the phone's own words, or
/// nothing when it can. A name must be UTF-8, hold more than white space,
/// at most k_field_characters characters, and no character unsafe to show:
/// whoever reads it must see all of it.
[[nodiscard]] std::string name_fault(std::string_view name);

}  // namespace derodi_sim
