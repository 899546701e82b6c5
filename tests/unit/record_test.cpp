// SPDX-License-Identifier: MIT
#include "zelko/ipc/record.hpp"

#include <gtest/gtest.h>

#include <random>

namespace {

using zelko_ipc::escape;
using zelko_ipc::fields;
using zelko_ipc::join;
using zelko_ipc::k_wrong_shape;
using zelko_ipc::unescape;

TEST(Escape, Table) {
  struct Row {
    std::string_view field;
    std::string_view escaped;
  };
  const Row rows[] = {
      {"", ""},
      {"plain text", "plain text"},
      {"\\", "\\\\"},
      {"\t", "\\t"},
      {"\n", "\\n"},
      {"a\\nb", "a\\\\nb"},  // a backslash and the letter n stay two characters
      {"\r\x01\x7f", "\r\x01\x7f"},
      {"caf\xc3\xa9\t\xe2\x80\xa8", "caf\xc3\xa9\\t\xe2\x80\xa8"},
      {"\\\t\n\\", "\\\\\\t\\n\\\\"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(escape(row.field), row.escaped) << row.field;
  }
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
      {"\\\t", "\\\t"},
      {"\\0\\N\\T", "\\0\\N\\T"},
      {"\\\\\\n", "\\\n"},
      {std::string_view("\\\0", 2), std::string_view("\\\0", 2)},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(unescape(row.escaped), row.field) << row.escaped;
  }
}

TEST(Join, Table) {
  EXPECT_EQ(join({}), "");
  const std::string_view one[] = {"a\tb"};
  EXPECT_EQ(join(one), "a\\tb");
  const std::string_view three[] = {"", "x\ny", ""};
  EXPECT_EQ(join(three), "\tx\\ny\t");
}

TEST(Fields, Shapes) {
  auto three = fields<3>("a\tb\t");
  ASSERT_TRUE(three);
  EXPECT_EQ(*three, (std::array<std::string, 3>{"a", "b", ""}));

  EXPECT_EQ(fields<2>("").error(), k_wrong_shape);
  EXPECT_EQ(fields<3>("a\tb").error(), k_wrong_shape);
  EXPECT_EQ(fields<3>("a\tb\tc\td").error(), k_wrong_shape);
  EXPECT_EQ(fields<5>("\t\t\t\t\t").error(), k_wrong_shape);

  auto escaped_tab = fields<2>("a\\tb\tc");
  ASSERT_TRUE(escaped_tab);
  EXPECT_EQ((*escaped_tab)[0], "a\tb");
  EXPECT_EQ((*escaped_tab)[1], "c");

  auto empties = fields<5>("\t\t\t\t");
  ASSERT_TRUE(empties);
  EXPECT_EQ(*empties, (std::array<std::string, 5>{}));

  // CR is data like any other byte.
  auto crlf = fields<2>("a\tb\r");
  ASSERT_TRUE(crlf);
  EXPECT_EQ((*crlf)[1], "b\r");
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

TEST(RoundTrip, UnescapeUndoesEscape) {
  std::mt19937 random(20261207);
  for (int i = 0; i < 20000; ++i) {
    const std::string text = random_text(random);
    const std::string escaped = escape(text);
    EXPECT_EQ(escaped.find_first_of("\t\n"), std::string::npos);
    ASSERT_EQ(unescape(escaped), text);
  }
}

template <std::size_t N>
void check_fields_undo_join(std::mt19937& random) {
  for (int i = 0; i < 5000; ++i) {
    std::array<std::string, N> list;
    std::array<std::string_view, N> views;
    for (std::size_t f = 0; f < N; ++f) {
      list[f] = random_text(random);
      views[f] = list[f];
    }
    const std::string record = join(views);
    auto decoded = fields<N>(record);
    ASSERT_TRUE(decoded) << record;
    ASSERT_EQ(*decoded, list);
  }
}

TEST(RoundTrip, FieldsUndoJoin) {
  std::mt19937 random(7);
  check_fields_undo_join<1>(random);
  check_fields_undo_join<2>(random);
  check_fields_undo_join<3>(random);
  check_fields_undo_join<5>(random);
}

}  // namespace
