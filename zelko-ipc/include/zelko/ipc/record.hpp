// SPDX-License-Identifier: MIT
#pragma once

// Control records: one line of TAB-separated fields in which backslash, TAB
// and LF are written as backslash escapes.

#include <array>
#include <cstddef>
#include <expected>
#include <span>
#include <string>
#include <string_view>

namespace zelko_ipc {

/// The only failure of the record codec: a record with the wrong field count.
inline constexpr std::string_view k_wrong_shape = "control record has the wrong shape";

/// Returns `field` with backslash, TAB and LF written as "\\", "\t" and "\n".
[[nodiscard]] std::string escape(std::string_view field);

/// Appends the escaped form of `field` to `out`.
void append_escaped(std::string& out, std::string_view field);

/// The byte that a backslash followed by `letter` stands for, or 0 when the
/// pair is no escape.
[[nodiscard]] constexpr char unescaped_byte(char letter) {
  switch (letter) {
    case 'n':
      return '\n';
    case 't':
      return '\t';
    case '\\':
      return '\\';
    default:
      return 0;
  }
}

/// Undoes `escape`. Never fails: an unknown pair or a trailing backslash is kept literally.
[[nodiscard]] std::string unescape(std::string_view escaped);

/// Writes the unescaped form of `escaped` at `out` and returns where it
/// ends. The result is never longer than `escaped`, so `out` may be
/// `escaped.data()` itself or any place before it in the same buffer.
char* unescape_into(char* out, std::string_view escaped);

/// Returns the escaped fields joined with single TABs (the empty text for an empty list).
[[nodiscard]] std::string join(std::span<const std::string_view> fields);

/// Appends join(fields) to `out`.
void append_joined(std::string& out, std::span<const std::string_view> fields);

/// Splits `record` at every TAB into exactly `pieces.size()` escaped pieces.
/// Returns false, leaving `pieces` unspecified, when the TAB count does not fit.
[[nodiscard]] bool split_record(std::string_view record, std::span<std::string_view> pieces);

/// Returns the N unescaped fields of `record`, or k_wrong_shape when it holds
/// more or fewer than N fields.
template <std::size_t N>
[[nodiscard]] std::expected<std::array<std::string, N>, std::string_view> fields(
    std::string_view record) {
  std::array<std::string_view, N> pieces;
  if (!split_record(record, pieces)) {
    return std::unexpected(k_wrong_shape);
  }
  std::array<std::string, N> result;
  for (std::size_t i = 0; i < N; ++i) {
    result[i] = unescape(pieces[i]);
  }
  return result;
}

}  // namespace zelko_ipc
