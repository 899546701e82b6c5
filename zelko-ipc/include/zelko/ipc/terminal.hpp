// SPDX-License-Identifier: MIT
#pragma once

// Foreign text shown on a terminal: control characters, DEL, the C1
// controls, the bidirectional marks, overrides and isolates and the line and
// paragraph separators could move the cursor, retitle the window, hide or
// forge lines or reorder what the user reads, so on a terminal they are
// shown as visible escapes instead.

#include <cstddef>
#include <string_view>

namespace zelko_ipc {

/// The character a terminal must not receive raw, found at the start of a text.
struct UnsafeCharacter {
  char32_t code_point;
  std::size_t length;  // its length in bytes; 0 when the text starts with a safe character
};

/// Tells whether `text` starts with a character a terminal must not receive raw.
[[nodiscard]] UnsafeCharacter unsafe_character_at(std::string_view text);

/// The most bytes write_for_terminal makes of one byte.
inline constexpr std::size_t k_terminal_expansion = 4;

/// Writes `text` at `out`, which has room for k_terminal_expansion bytes per
/// byte of it, and returns the end. TAB and LF are written "\t" and "\n",
/// every other unsafe character "\xHH" (below U+0080) or "\u{HHHH}", and
/// each backslash is doubled, so the escapes cannot be confused with text
/// that merely looks like one.
char* write_for_terminal(char* out, std::string_view text);

}  // namespace zelko_ipc
