// SPDX-License-Identifier: MIT
#pragma once

// The inside of JSON string literals: quotation mark, backslash, TAB, LF and
// CR get their short escapes, every other character below U+0020 the form
// \u00XX with lower-case digits, and everything else is copied unchanged.

#include <cstddef>
#include <string>
#include <string_view>

namespace zelko_cli {

/// The most bytes the JSON escapes make of one byte (\u00XX).
inline constexpr std::size_t k_json_expansion = 6;

/// Writes `text` (UTF-8) as the inside of a JSON string literal at `out`,
/// which has room for k_json_expansion bytes per byte of it, and returns
/// the end. The text may be cut anywhere: only ASCII bytes are ever escaped.
char* write_json_escaped(char* out, std::string_view text);

/// The same, with DEL, the C1 controls and the other characters a terminal
/// must not receive raw also written as \uXXXX escapes: the same JSON value,
/// safe to show on a terminal. The text may be cut between characters only.
char* write_json_escaped_for_terminal(char* out, std::string_view text);

/// `text` (UTF-8) as a JSON string literal, quotation marks included: the
/// same encoder as the JSON listing's, for one text at a time.
[[nodiscard]] std::string json_string(std::string_view text);

}  // namespace zelko_cli
