// SPDX-License-Identifier: MIT
#pragma once

// Kinds of Unicode characters that a reader of the sim's texts cannot see
// for what they are.

namespace derodi_sim {

/// C0 and C1 controls and DEL.
[[nodiscard]] bool is_control(char32_t c);

/// Unicode's format characters (general category Cf: bidirectional
/// controls, zero-width characters, byte-order marks...) and the line and
/// paragraph separators: they steer or hide text without showing.
[[nodiscard]] bool is_formatting(char32_t c);

/// Characters that show as nothing: white space, format characters,
/// fillers and blanks.
[[nodiscard]] bool is_invisible(char32_t c);

}  // namespace derodi_sim
