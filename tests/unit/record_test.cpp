// SPDX-License-Identifier: MIT
#include "zelko/ipc/record.hpp"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

using zelko_ipc::Lines;
using zelko_ipc::Records;

std::string joined(std::span<const std::string_view> fields) {
  std::string out;
  zelko_ipc::append_joined(out, fields);
  return out;
}

std::string unescaped(std::string_view escaped) {
  std::string out(escaped);
  out.resize(static_cast<std::size_t>(zelko_ipc::unescape_into(out.data(), out) - out.data()));
  return out;
}

// Every record of `text` from `start` on, or nothing when it does not decode.
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

TEST(Escape, Table) {
  struct Row {
    std::string_view field;
    std::string_view escaped;
  };
  const Row rows[] = {
      {"", ""},
      {"plain text", "plain text"},
      {"a\\nb", "a\\\\nb"},  // a backslash and the letter n stay two characters
      {"\r\x01\x7f", "\r\x01\x7f"},
      {"caf\xc3\xa9\t\xe2\x80\xa8", "caf\xc3\xa9\\t\xe2\x80\xa8"},
      {"\\\t\n\\", "\\\\\\t\\n\\\\"},
  };
  for (const Row& row : rows) {
    const std::string_view one[] = {row.field};
    EXPECT_EQ(joined(one), row.escaped) << row.field;
  }
  const std::string_view three[] = {"", "x\ny", ""};
  EXPECT_EQ(joined(three), "\tx\\ny\t");
}

TEST(Unescape, Table) {
  struct Row {
    std::string_view escaped;
    std::string_view field;
  };
  const Row rows[] = {
      {"", ""},
      {"\\", "\\"},
      {"a\\", "a\\"},
      {"\\q", "\\q"},
      {"\\\\\\", "\\\\"},  // one escaped pair, then a trailing backslash
      {"\\n\\t\\\\", "\n\t\\"},
      {"\\\\n", "\\n"},
      {"\\\xc3\xa9", "\\\xc3\xa9"},
      {"\\\r", "\\\r"},
      {"\\0\\N\\T", "\\0\\N\\T"},
      {"\\\\\\n", "\\\n"},
      {std::string_view("\\\0", 2), std::string_view("\\\0", 2)},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(unescaped(row.escaped), row.field) << row.escaped;
  }
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

// Lists of random records survive joining, one per line, and decoding.
template <std::size_t N>
void check_decoding_undoes_joining(std::mt19937& random) {
  for (int i = 0; i < 2000; ++i) {
    std::vector<std::array<std::string, N>> records(i % 4);
    std::string text = "keys";
    for (auto& record : records) {
      std::array<std::string_view, N> views;
      for (std::size_t f = 0; f < N; ++f) {
        record[f] = random_text(random);
        views[f] = record[f];
      }
      text += '\n';
      zelko_ipc::append_joined(text, views);
    }
    ASSERT_EQ(decoded<N>(text, 4, Lines::every_non_empty), records) << text;
  }
}

TEST(RoundTrip, DecodingUndoesJoining) {
  std::mt19937 random(7);
  check_decoding_undoes_joining<2>(random);
  check_decoding_undoes_joining<3>(random);
  check_decoding_undoes_joining<5>(random);
}

}  // namespace
