#pragma once

// Foreign text shown on a terminal: control characters (but TAB and LF),
// DEL, the C1 controls and the bidirectional overrides and isolates could
// move the cursor, retitle the window, hide lines or reorder what the user
// reads, so on a terminal they are shown as visible escapes instead.

#include <cstddef>
#include <string>
#include <string_view>

namespace zelko_cli {

/// The character a terminal must not receive raw, found at the start of a text.
struct UnsafeCharacter {
  char32_t code_point;
  std::size_t length;  // its length in bytes; 0 when the text starts with a safe character
};

/// Tells whether `text` starts with a character a terminal must not receive raw.
[[nodiscard]] UnsafeCharacter unsafe_character_at(std::string_view text);

/// Appends `text` with each unsafe character written as "\xHH" (below
/// U+0080) or "\u{HHHH}", and each backslash doubled, so the escapes cannot
/// be confused with text that merely looks like one.
void append_for_terminal(std::string& out, std::string_view text);

}  // namespace zelko_cli
