// SPDX-License-Identifier: MIT
#pragma once

// Control records: one line of TAB-separated fields in which backslash, TAB
// and LF are written as backslash escapes.
//
// escape, unescape, join and fields make new texts of their own. The
// client's answer decoder takes another road to the same fields, one that
// costs no more memory than the answer: its records stay in the text they
// arrived in, each record's escapes undone and the record moved up to where
// the one before it ended, its fields separated by k_field_break and the
// records by k_record_break. An answer that is UTF-8 (the decoder checks)
// holds neither byte, so the breaks cannot be confused with text; and
// whatever the text holds, walking it never reads outside it.

#include <algorithm>
#include <array>
#include <cstddef>
#include <expected>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace zelko_ipc {

/// The only failure of the record codec: a record with the wrong field count.
inline constexpr std::string_view k_wrong_shape = "control record has the wrong shape";

inline constexpr char k_field_break = '\xff';
inline constexpr char k_record_break = '\xfe';

/// `field` with backslash, TAB and LF written as "\\", "\t" and "\n";
/// every other character unchanged.
[[nodiscard]] std::string escape(std::string_view field);

/// The field an escaped text stands for. Never fails: a backslash before
/// any other character, and a trailing backslash, are kept literally.
[[nodiscard]] std::string unescape(std::string_view escaped);

/// The control record of `fields`: each escaped, joined with single TABs.
/// No fields give the empty text.
[[nodiscard]] std::string join(std::span<const std::string_view> fields);
[[nodiscard]] std::string join(std::initializer_list<std::string_view> fields);

/// Exactly N fields of `record`, split at its TABs and unescaped, or
/// k_wrong_shape when it holds more or fewer (then nothing is unescaped).
template <std::size_t N>
[[nodiscard]] std::expected<std::array<std::string, N>, std::string_view> fields(
    std::string_view record) {
  if (static_cast<std::size_t>(std::ranges::count(record, '\t')) + 1 != N) {
    return std::unexpected(k_wrong_shape);
  }
  std::array<std::string, N> result;
  for (std::string& field : result) {
    const std::size_t tab = record.find('\t');
    field = unescape(record.substr(0, tab));
    record.remove_prefix(tab == std::string_view::npos ? record.size() : tab + 1);
  }
  return result;
}

/// `head`, LF and the control record of `fields`: the form of every
/// request and answer that has an argument or body line.
[[nodiscard]] std::string head_and_record(std::string_view head,
                                          std::initializer_list<std::string_view> fields);

/// Writes the unescaped form of `escaped` at `out` and returns where it
/// ends. Never fails: an unknown pair or a trailing backslash is kept
/// literally. The result is never longer than `escaped`, so `out` may be
/// `escaped.data()` itself or any place before it in the same buffer.
char* unescape_into(char* out, std::string_view escaped);

/// Which lines of a text are records: the first only (a body line), or
/// every line that is not empty (a list).
enum class Lines { first, every_non_empty };

/// Decodes the records of `text` from `start` on in place: `text` is left
/// holding the decoded records alone. Returns false, leaving `text`
/// unspecified, when a record has more or fewer than `fields` fields.
[[nodiscard]] bool decode_records(std::string& text, std::size_t start, std::size_t fields,
                                  Lines lines);

/// Decoded records of N fields, in the text that holds them.
template <std::size_t N>
class Records {
  static_assert(N >= 2, "a record of one field is not split");

 public:
  using Fields = std::array<std::string_view, N>;

  Records() = default;
  /// Takes over a text left by decode_records.
  explicit Records(std::string decoded) : m_text(std::move(decoded)) {}

  [[nodiscard]] bool empty() const { return m_text.empty(); }

  /// The fields of the first record (empty texts when there is none).
  [[nodiscard]] Fields first() const {
    return split(std::string_view(m_text).substr(0, m_text.find(k_record_break)));
  }

  /// Calls `visit(fields)` for each record in order; when `visit` returns a
  /// bool, true ends the walk.
  template <class Visit>
  void for_each(Visit visit) const {
    std::string_view rest = m_text;
    while (!rest.empty()) {
      const std::size_t end = rest.find(k_record_break);
      const Fields fields = split(rest.substr(0, end));
      rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
      if constexpr (std::is_same_v<std::invoke_result_t<Visit&, const Fields&>, bool>) {
        if (visit(fields)) {
          return;
        }
      } else {
        visit(fields);
      }
    }
  }

 private:
  static Fields split(std::string_view record) {
    Fields fields;
    for (std::size_t i = 0; i + 1 < N; ++i) {
      const std::size_t end = record.find(k_field_break);
      fields[i] = record.substr(0, end);
      record.remove_prefix(end == std::string_view::npos ? record.size() : end + 1);
    }
    fields[N - 1] = record;
    return fields;
  }

  std::string m_text;
};

}  // namespace zelko_ipc
