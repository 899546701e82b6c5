// SPDX-License-Identifier: MIT
#include "zelko/ipc/decimal.hpp"

#include <charconv>
#include <limits>

namespace zelko_ipc {

std::optional<std::uint64_t> parse_unsigned_decimal(std::string_view text, std::uint64_t max) {
  if (text.starts_with('+')) {
    text.remove_prefix(1);
  }
  if (text.empty()) {
    return std::nullopt;
  }
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') {
      return std::nullopt;
    }
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (max - digit) / 10) {
      return std::nullopt;
    }
    value = value * 10 + digit;
  }
  return value;
}

void append_decimal(std::string& out, std::uint64_t value) {
  char digits[std::numeric_limits<std::uint64_t>::digits10 + 1];
  const auto result = std::to_chars(std::begin(digits), std::end(digits), value);
  out.append(digits, result.ptr);
}

std::string to_decimal(std::uint64_t value) {
  std::string out;
  append_decimal(out, value);
  return out;
}

}  // namespace zelko_ipc
