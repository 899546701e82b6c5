// SPDX-License-Identifier: MIT
#include "zelko/ipc/terminal.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "zelko/ipc/utf8.hpp"

namespace zelko_ipc {

namespace {

constexpr char k_hex_digits[] = "0123456789abcdef";

struct CodeRange {
  char32_t first;
  char32_t last;
};

// C0 controls, DEL and C1 controls; U+2028 and U+2029, the line and
// paragraph separators; the rest is Default_Ignorable_Code_Point as
// Unicode's DerivedCoreProperties.txt lists it (the unit tests compare).
constexpr CodeRange k_unsafe[] = {
    {0x0000, 0x001F}, {0x007F, 0x009F},   {0x00AD, 0x00AD},   {0x034F, 0x034F},   {0x061C, 0x061C},
    {0x115F, 0x1160}, {0x17B4, 0x17B5},   {0x180B, 0x180F},   {0x200B, 0x200F},   {0x2028, 0x202E},
    {0x2060, 0x206F}, {0x3164, 0x3164},   {0xFE00, 0xFE0F},   {0xFEFF, 0xFEFF},   {0xFFA0, 0xFFA0},
    {0xFFF0, 0xFFF8}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0000, 0xE0FFF},
};

constexpr std::uint8_t utf8_lead_byte(char32_t c) {
  return static_cast<std::uint8_t>(c < 0x80      ? c
                                   : c < 0x800   ? 0xC0 | (c >> 6)
                                   : c < 0x10000 ? 0xE0 | (c >> 12)
                                                 : 0xF0 | (c >> 18));
}

// The bytes that start the UTF-8 of some unsafe character: every other
// byte goes to a terminal as it is, without decoding.
constexpr std::array<bool, 256> k_may_start_unsafe = [] {
  std::array<bool, 256> table{};
  for (const CodeRange& range : k_unsafe) {
    for (char32_t c = range.first; c <= range.last; ++c) {
      table[utf8_lead_byte(c)] = true;
    }
  }
  return table;
}();

char* write_hex(char* out, char32_t value, int digits) {
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
    *out++ = k_hex_digits[(value >> shift) & 0xF];
  }
  return out;
}

}  // namespace

bool is_unsafe_to_show(char32_t c) {
  return std::any_of(std::begin(k_unsafe), std::end(k_unsafe),
                     [c](const CodeRange& range) { return c >= range.first && c <= range.last; });
}

UnsafeCharacter unsafe_character_at(std::string_view text) {
  if (text.empty() || !k_may_start_unsafe[static_cast<std::uint8_t>(text[0])]) {
    return {0, 0};
  }
  const auto c = decode_utf8(text);
  if (!c || !is_unsafe_to_show(c->value)) {
    return {0, 0};
  }
  return {c->value, c->length};
}

char* write_for_terminal(char* out, std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    // Printable ASCII but the backslash, and every byte of a character
    // that is not a lead byte of a possibly unsafe one, go as they are.
    if (!k_may_start_unsafe[static_cast<std::uint8_t>(c)] && c != '\\') {
      *out++ = c;
      ++i;
      continue;
    }
    if (c == '\\' || c == '\t' || c == '\n') {
      *out++ = '\\';
      *out++ = c == '\t' ? 't' : c == '\n' ? 'n' : '\\';
      ++i;
      continue;
    }
    const UnsafeCharacter unsafe = unsafe_character_at(text.substr(i));
    if (unsafe.length == 0) {
      *out++ = c;
      ++i;
    } else if (unsafe.code_point < 0x80) {
      std::memcpy(out, "\\x", 2);
      out = write_hex(out + 2, unsafe.code_point, 2);
      i += unsafe.length;
    } else {
      std::memcpy(out, "\\u{", 3);
      const int digits = unsafe.code_point < 0x100 ? 2 : unsafe.code_point < 0x10000 ? 4 : 5;
      out = write_hex(out + 3, unsafe.code_point, digits);
      *out++ = '}';
      i += unsafe.length;
    }
  }
  return out;
}

}  // namespace zelko_ipc
