// SPDX-License-Identifier: MIT
#include "zelko/ipc/decimal.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace {

using zelko_ipc::parse_unsigned_decimal;

constexpr std::uint64_t k_u32 = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint64_t k_u64 = std::numeric_limits<std::uint64_t>::max();

TEST(UnsignedDecimal, Accepted) {
  struct Row {
    std::string_view text;
    std::uint64_t max;
    std::uint64_t value;
  };
  const Row rows[] = {
      {"0", k_u32, 0},
      {"+0", k_u32, 0},
      {"000", k_u32, 0},
      {"+7", k_u32, 7},
      {"0015", k_u32, 15},
      {"4294967295", k_u32, 4294967295},
      {"00000000000000000000004294967295", k_u32, 4294967295},
      {"18446744073709551615", k_u64, k_u64},
      {"+018446744073709551615", k_u64, k_u64},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(parse_unsigned_decimal(row.text, row.max), row.value) << row.text;
  }
}

TEST(UnsignedDecimal, Refused) {
  struct Row {
    std::string_view text;
    std::uint64_t max;
  };
  const Row rows[] = {
      {"", k_u32},
      {"+", k_u32},
      {"-", k_u32},
      {"-1", k_u32},
      {"-0", k_u32},
      {"++1", k_u32},
      {" 1", k_u32},
      {"1 ", k_u32},
      {"1_000", k_u32},
      {"0x10", k_u32},
      {"1e3", k_u32},
      {"4294967296", k_u32},
      {"99999999999999999999999", k_u32},
      {"18446744073709551616", k_u64},
      {"\xd9\xa1", k_u32},  // an Arabic-Indic digit is not an ASCII digit
  };
  for (const Row& row : rows) {
    EXPECT_EQ(parse_unsigned_decimal(row.text, row.max), std::nullopt) << row.text;
  }
}

TEST(UnsignedDecimal, AppendWritesPlainDigits) {
  std::string text;
  zelko_ipc::append_decimal(text, 0);
  text += ' ';
  zelko_ipc::append_decimal(text, k_u64);
  EXPECT_EQ(text, "0 18446744073709551615");
}

}  // namespace
