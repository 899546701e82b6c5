// SPDX-License-Identifier: MIT
#include "zelko/ipc/white_space.hpp"

#include <gtest/gtest.h>

namespace {

using zelko_ipc::trim_white_space;

TEST(WhiteSpace, EveryWhiteSpaceCharacterIsTrimmed) {
  const std::string_view spaces[] = {"\t",           "\n",           "\v",
                                     "\f",           "\r",           " ",
                                     "\xc2\x85",     "\xc2\xa0",     "\xe1\x9a\x80",
                                     "\xe2\x80\x80", "\xe2\x80\x85", "\xe2\x80\x8a",
                                     "\xe2\x80\xa8", "\xe2\x80\xa9", "\xe2\x80\xaf",
                                     "\xe2\x81\x9f", "\xe3\x80\x80"};
  for (const std::string_view space : spaces) {
    const std::string padded = std::string(space) + "x y" + std::string(space);
    EXPECT_EQ(trim_white_space(padded), "x y") << padded;
    EXPECT_EQ(trim_white_space(space), "");
  }
}

TEST(WhiteSpace, OtherCharactersAreKept) {
  // Zero-width space, byte order mark and U+180E are not White_Space.
  for (const std::string_view kept : {"\xe2\x80\x8b", "\xef\xbb\xbf", "\xe1\xa0\x8e", "\x1f"}) {
    EXPECT_EQ(trim_white_space(kept), kept);
  }
  EXPECT_EQ(trim_white_space(""), "");
  EXPECT_EQ(trim_white_space(" \t/run/user/1000/zelko/agent.sock\n"),
            "/run/user/1000/zelko/agent.sock");
  EXPECT_EQ(trim_white_space("a \xe3\x80\x80 b"), "a \xe3\x80\x80 b");
}

}  // namespace
