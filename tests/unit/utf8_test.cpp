// SPDX-License-Identifier: MIT
#include "zelko/ipc/utf8.hpp"

#include <gtest/gtest.h>

namespace {

using zelko_ipc::is_valid_utf8;
using zelko_ipc::to_utf8_lossy;

TEST(Utf8, WellFormed) {
  using namespace std::string_view_literals;
  for (std::string_view text :
       {""sv, "ascii"sv, "caf\xc3\xa9"sv, "\xe2\x80\x94"sv, "\xf0\x9f\x94\x91"sv, "\xef\xbf\xbf"sv,
        "\xf4\x8f\xbf\xbf"sv, "\xed\x9f\xbf"sv, "\0"sv}) {
    EXPECT_TRUE(is_valid_utf8(text)) << text;
    EXPECT_EQ(to_utf8_lossy(text), text);
  }
}

TEST(Utf8, IllFormed) {
  struct Row {
    std::string_view bytes;
    std::string_view lossy;
  };
  const Row rows[] = {
      {"\xff", "\xef\xbf\xbd"},
      {"\xfe", "\xef\xbf\xbd"},
      {"a\x80z", "a\xef\xbf\xbdz"},
      {"\xbf", "\xef\xbf\xbd"},
      {"\xc1\xbf", "\xef\xbf\xbd\xef\xbf\xbd"},
      {"\xc0\xaf", "\xef\xbf\xbd\xef\xbf\xbd"},                  // overlong slash
      {"\xe0\x80\xaf", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},  // overlong, three bytes
      {"\xf0\x80\x80\xaf", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
      {"\xed\xa0\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},  // a surrogate
      {"\xed\xbf\xbf", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
      {"\xf4\x90\x80\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},  // above U+10FFFF
      {"\xf5\x80\x80\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
      {"\xe2\x80", "\xef\xbf\xbd"},  // truncated: one replacement
      {"\xf0\x9f\x94", "\xef\xbf\xbd"},
      {"\xe2\x80z", "\xef\xbf\xbdz"},
      {"\xc3", "\xef\xbf\xbd"},
      {"\xf8\x88\x80\x80\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
  };
  for (const Row& row : rows) {
    EXPECT_FALSE(is_valid_utf8(row.bytes)) << row.bytes;
    EXPECT_EQ(to_utf8_lossy(row.bytes), row.lossy) << row.bytes;
  }
}

TEST(Utf8, DecodeGivesCodePointAndLength) {
  const auto e = zelko_ipc::decode_utf8("\xc3\xa9x");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->value, U'\u00e9');
  EXPECT_EQ(e->length, 2u);
  const auto key = zelko_ipc::decode_utf8("\xf0\x9f\x94\x91");
  ASSERT_TRUE(key);
  EXPECT_EQ(key->value, U'\U0001F511');
  EXPECT_FALSE(zelko_ipc::decode_utf8(""));
  EXPECT_FALSE(zelko_ipc::decode_utf8("\xe2\x80"));
}

TEST(Utf8, BadByteFoundWhereverItSitsInLongText) {
  for (std::size_t position = 0; position < 50; ++position) {
    std::string text(50, 'a');
    EXPECT_TRUE(is_valid_utf8(text));
    text[position] = '\xff';
    EXPECT_FALSE(is_valid_utf8(text)) << position;
    text[position] = '\xc3';  // a lead byte cut off by the next ASCII byte
    EXPECT_FALSE(is_valid_utf8(text)) << position;
  }
}

}  // namespace
