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

/// Undoes `escape`. Never fails: an unknown pair or a trailing backslash is kept literally.
[[nodiscard]] std::string unescape(std::string_view escaped);

/// Unescapes the `size` bytes at `data` in place (the result is never
/// longer) and returns the new length.
[[nodiscard]] std::size_t unescape_in_place(char* data, std::size_t size);

/// Returns the escaped fields joined with single TABs (the empty text for an empty list).
[[nodiscard]] std::string join(std::span<const std::string_view> fields);

/// Splits `record` at every TAB into exactly `pieces.size()` escaped pieces.
/// Returns false, leaving `pieces` unspecified, when the TAB count does not
/// fit. When `escaped` is given, it tells whether the record holds a
/// backslash, that is whether any piece needs unescaping.
[[nodiscard]] bool split_record(std::string_view record, std::span<std::string_view> pieces,
                                bool* escaped = nullptr);

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
