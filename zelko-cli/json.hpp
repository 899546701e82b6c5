#pragma once

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

/// Appends json_string(text) to `out`, with DEL, the C1 controls and the
/// bidirectional overrides and isolates also written as \uXXXX escapes:
/// the same JSON value, safe to show on a terminal.
void append_json_string_for_terminal(std::string& out, std::string_view text);

}  // namespace zelko_cli
