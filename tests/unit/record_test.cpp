// SPDX-License-Identifier: MIT
#include "zelko/ipc/record.hpp"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

using zelko_ipc::escape;
using zelko_ipc::fields;
using zelko_ipc::join;
using zelko_ipc::Lines;
using zelko_ipc::Records;
using zelko_ipc::unescape;

// The fields of a record split by `fields`, between bars, or its error.
template <std::size_t N>
std::string shown(const std::expected<std::array<std::string, N>, std::string_view>& record) {
  if (!record) {
    return std::string(record.error());
  }
  std::string out;
  for (const std::string& field : *record) {
    out.append("|").append(field);
  }
  return out;
}

TEST(RecordCodec, EdgeCases) {
  struct Row {
    std::string actual;
    std::string_view expected;
  };
  const Row rows[] = {
      {escape(""), ""},
      {escape("plain text\r\x01\x7f caf\xc3\xa9 \xe2\x80\xa8"),
       "plain text\r\x01\x7f caf\xc3\xa9 \xe2\x80\xa8"},
      {escape("\\\t\n\\"), "\\\\\\t\\n\\\\"},
      // A backslash and the letter n stay those two characters.
      {escape("\\n"), "\\\\n"},
      {unescape("\\\\n"), "\\n"},
      {unescape(""), ""},
      {unescape("\\n\\t\\\\"), "\n\t\\"},
      {unescape("\\"), "\\"},
      {unescape("a\\"), "a\\"},
      {unescape("\\q"), "\\q"},
      {unescape("\\\\\\"), "\\\\"},  // one escaped pair, then a trailing backslash
      {unescape("\\\xc3\xa9"), "\\\xc3\xa9"},
      {unescape("\\\r\\0\\N\\\t"), "\\\r\\0\\N\\\t"},
      {join({}), ""},
      {join({"a\tb"}), "a\\tb"},
      {join({"", "x\ny", ""}), "\tx\\ny\t"},
      {shown(fields<3>("a\tb\t")), "|a|b|"},
      {shown(fields<3>("\t\t")), "|||"},
      {shown(fields<2>("a\\tb\tc")), "|a\tb|c"},
      {shown(fields<5>("a\tb\tc\td\te\r")), "|a|b|c|d|e\r"},
      {shown(fields<2>("\\\\\t\\")), "|\\|\\"},
      {shown(fields<2>("")), "control record has the wrong shape"},
      {shown(fields<3>("a\tb")), "control record has the wrong shape"},
      {shown(fields<3>("a\tb\tc\td")), "control record has the wrong shape"},
      {shown(fields<3>("a\\tb\tc")), "control record has the wrong shape"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(row.actual, row.expected);
  }
}

// Every record of `text` from `start` on, decoded in place, or nothing
// when it does not decode.
template <std::size_t N>
std::optional<std::vector<std::array<std::string, N>>> decoded(std::string text, std::size_t start,
                                                               Lines lines) {
  if (!zelko_ipc::decode_records(text, start, N, lines)) {
    return std::nullopt;
  }
  std::vector<std::array<std::string, N>> records;
  Records<N>(std::move(text)).for_each([&](const auto& fields) {
    records.emplace_back();
    std::copy(fields.begin(), fields.end(), records.back().begin());
  });
  return records;
}

TEST(DecodeRecords, Shapes) {
  using Three = std::vector<std::array<std::string, 3>>;
  EXPECT_EQ(decoded<3>("a\tb\t", 0, Lines::first), (Three{{"a", "b", ""}}));
  EXPECT_EQ(decoded<3>("a\\tb\tc\\\\\t\\\nrest", 0, Lines::first), (Three{{"a\tb", "c\\", "\\"}}));
  EXPECT_EQ(decoded<3>("head\n\na\tb\tc\r\n\n\t\t\n", 5, Lines::every_non_empty),
            (Three{{"a", "b", "c\r"}, {"", "", ""}}));
  EXPECT_EQ(decoded<3>("head", 4, Lines::every_non_empty), Three{});
  for (const std::string_view bad : {"", "a\tb", "a\tb\tc\td", "a\\tb\tc"}) {
    EXPECT_FALSE(decoded<3>(std::string(bad), 0, Lines::first)) << bad;
  }
  EXPECT_FALSE(decoded<3>("a\tb\tc\n\nd\te", 0, Lines::every_non_empty));
  EXPECT_FALSE(decoded<5>("\t\t\t\t\t", 0, Lines::first));
}

// Texts built from the bytes that matter most to the codec, plus others.
std::string random_text(std::mt19937& random) {
  static constexpr std::string_view k_alphabet[] = {"\\", "\t",       "\n",  "n",    "t", "a",
                                                    "\r", "\xc3\xa9", "\\n", "\\\\", " ", "\x01"};
  std::uniform_int_distribution<std::size_t> length(0, 40);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(k_alphabet) - 1);
  std::string text;
  for (std::size_t n = length(random); n > 0; --n) {
    text += k_alphabet[pick(random)];
  }
  return text;
}

// Random lists survive join and fields, and lines of them join and the
// in-place decoding alike.
template <std::size_t N>
void check_round_trips(std::mt19937& random) {
  for (int i = 0; i < 2000; ++i) {
    std::vector<std::array<std::string, N>> records(i % 4);
    std::string text = "keys";
    for (auto& record : records) {
      std::array<std::string_view, N> views;
      for (std::size_t f = 0; f < N; ++f) {
        record[f] = random_text(random);
        views[f] = record[f];
        ASSERT_EQ(unescape(escape(record[f])), record[f]);
      }
      const std::string line = join(views);
      ASSERT_EQ(fields<N>(line), record) << line;
      text += '\n' + line;
    }
    ASSERT_EQ(decoded<N>(text, 4, Lines::every_non_empty), records) << text;
  }
}

TEST(RecordCodec, RoundTrips) {
  std::mt19937 random(7);
  check_round_trips<2>(random);
  check_round_trips<3>(random);
  check_round_trips<5>(random);
}

}  // namespace
