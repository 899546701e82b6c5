// SPDX-License-Identifier: MIT
#pragma once

// Text the sim reads (files, words) and writes: messages, and what another
// program chose, shown so that nobody can be misled by it.

#include <fcntl.h>

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>

namespace derodi_sim {

/// The texts one after the other (g++ 12 warns falsely about chains of
/// "literal" + temporary at -O3 on some targets).
template <class... Texts>
[[nodiscard]] std::string concat(const Texts&... texts) {
  std::string out;
  (out.append(std::string_view(texts)), ...);
  return out;
}

/// `text` in single quotes, for answers to clients (which show it safely).
[[nodiscard]] inline std::string quoted(std::string_view text) {
  return concat("'", text, "'");
}

/// The sim's word splitter: the next word of `text` from `at` (words are
/// separated by runs of `separators`), `at` moved past it; empty at the end.
std::string_view next_word(std::string_view text, std::size_t& at,
                           std::string_view separators = " \t");

/// How many characters of one foreign text a line shows.
inline constexpr std::size_t k_field_characters = 64;

/// `text` another program chose, as the sim's lines show it: in single
/// quotes, a quote or backslash escaped by a backslash, characters unsafe
/// to show as \xHH or \u{HHHH} (bytes that are no UTF-8 as \xHH), at most
/// `characters` of it in four times as many bytes; a longer text is cut
/// between characters and followed by "... (N bytes)".
[[nodiscard]] std::string foreign(std::string_view text,
                                  std::size_t characters = k_field_characters);

/// Why `name` cannot name a key on the phone (it must be UTF-8, more than
/// white space, at most k_field_characters characters, none unsafe to
/// show), or nothing when it can.
[[nodiscard]] std::string name_fault(std::string_view name);

/// The sim's one way to read a file: at most `limit` bytes of `path`
/// (relative to `directory`), a regular file only; or why not.
[[nodiscard]] std::expected<std::string, std::string> read_regular_file(int directory,
                                                                        const std::string& path,
                                                                        std::size_t limit);

/// read_regular_file's text, empty when the file cannot be read.
[[nodiscard]] std::string read_small_file(int directory, const std::string& path,
                                          std::size_t limit = 4096);

/// The first line of what read_small_file gives, without its newline.
[[nodiscard]] std::string first_line(int directory, const std::string& path);

}  // namespace derodi_sim
