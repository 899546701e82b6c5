// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace derodi_sim {

/// How much of one foreign text a line shows: characters, and four bytes
/// a character of what shows them (an escape is one character of up to
/// ten bytes).
inline constexpr std::size_t k_field_characters = 64;

/// `text` that another program chose (a user name, a namespace, a key or
/// program name, a path, a host name), as the sim's lines show it: between
/// single quotes, with a quote or a backslash in it escaped by a backslash,
/// control, invisible and formatting characters shown as \xHH or \u{HHHH}
/// (bytes that are no UTF-8 as \xHH), and at most `characters` of it in
/// four times as many bytes. A longer text is cut between two characters,
/// and "..." and its whole size in bytes follow the closing quote. Nothing
/// in it can end the quotation, hide, or make a line longer than the field.
[[nodiscard]] std::string foreign(std::string_view text,
                                  std::size_t characters = k_field_characters);

}  // namespace derodi_sim
