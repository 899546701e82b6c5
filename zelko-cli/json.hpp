#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zelko_cli {

/// Returns `text` (UTF-8) as a JSON string literal, quotation marks included:
/// quotation mark, backslash, TAB, LF and CR get their short escapes, every
/// other character below U+0020 the form \u00XX with lower-case digits, and
/// everything else is copied unchanged.
[[nodiscard]] std::string json_string(std::string_view text);

/// Appends json_string(text) to `out`.
void append_json_string(std::string& out, std::string_view text);

/// The room write_json_string needs for a text of `size` bytes: the most
/// bytes json_string can make of it, and 16 bytes to spare for block stores.
[[nodiscard]] constexpr std::size_t json_string_room(std::size_t size) {
  return 6 * size + 2 + 16;
}

/// Writes json_string(text) at `out`, which has json_string_room(text.size())
/// bytes of room, and returns the end.
char* write_json_string(char* out, std::string_view text);

/// Appends json_string(text) to `out`, with DEL, the C1 controls and the
/// bidirectional overrides and isolates also written as \uXXXX escapes:
/// the same JSON value, safe to show on a terminal.
void append_json_string_for_terminal(std::string& out, std::string_view text);

}  // namespace zelko_cli
