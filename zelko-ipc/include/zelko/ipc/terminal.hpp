// SPDX-License-Identifier: MIT
#pragma once

// Foreign text shown to a reader: control characters, DEL, the C1
// controls, the line and paragraph separators and the characters Unicode
// leaves unseen (Default_Ignorable_Code_Point: the bidirectional marks,
// overrides and isolates, zero-width characters, variation selectors,
// fillers, tags...) could move the cursor, retitle the window, hide or forge
// lines, reorder what the user reads or make two names look alike, so they
// are shown as visible escapes instead.

#include <cstddef>
#include <string_view>

namespace zelko_ipc {

/// True for the characters that must never reach a reader raw: the one
/// list the client's terminal output, the stand-in daemon's quoting and its
/// checks of key names all go by.
[[nodiscard]] bool is_unsafe_to_show(char32_t c);

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
