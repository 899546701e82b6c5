// SPDX-License-Identifier: MIT
#include "zelko/ipc/terminal.hpp"

#include <cstdint>
#include <cstring>

namespace zelko_ipc {

namespace {

constexpr char k_hex_digits[] = "0123456789abcdef";

std::uint8_t byte_at(std::string_view text, std::size_t i) {
  return static_cast<std::uint8_t>(text[i]);
}

char* write_hex(char* out, char32_t value, int digits) {
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
    *out++ = k_hex_digits[(value >> shift) & 0xF];
  }
  return out;
}

// The code point of the three-byte sequence E2 `second` `third`.
char32_t code_point_e2(std::uint8_t second, std::uint8_t third) {
  return 0x2000u + ((second & 0x3Fu) << 6) + (third & 0x3Fu);
}

bool unsafe_e2(char32_t c) {
  return c == 0x200E || c == 0x200F || c == 0x2028 || c == 0x2029 || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

UnsafeCharacter unsafe_character_at(std::string_view text) {
  const std::uint8_t lead = byte_at(text, 0);
  if (lead < 0x20 || lead == 0x7F) {
    return {lead, 1};
  }
  if (lead < 0x80 || text.size() < 2) {
    return {0, 0};
  }
  const std::uint8_t second = byte_at(text, 1);
  // The C1 controls, U+0080 to U+009F, are C2 80 to C2 9F; U+061C, the
  // Arabic letter mark, is D8 9C.
  if ((lead == 0xC2 && second >= 0x80 && second <= 0x9F) || (lead == 0xD8 && second == 0x9C)) {
    return {((lead & 0x1Fu) << 6) | (second & 0x3Fu), 2};
  }
  if (lead == 0xE2 && text.size() >= 3 && (second == 0x80 || second == 0x81)) {
    const char32_t c = code_point_e2(second, byte_at(text, 2));
    if (unsafe_e2(c)) {
      return {c, 3};
    }
  }
  return {0, 0};
}

char* write_for_terminal(char* out, std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    const auto byte = static_cast<std::uint8_t>(c);
    // Printable ASCII but the backslash, and every byte of a character
    // that is not a lead byte of a possibly unsafe one, go as they are.
    if ((byte >= 0x20 && byte < 0x7F && c != '\\') ||
        (byte >= 0x80 && byte != 0xC2 && byte != 0xD8 && byte != 0xE2)) {
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
      out = write_hex(out + 3, unsafe.code_point, unsafe.code_point < 0x100 ? 2 : 4);
      *out++ = '}';
      i += unsafe.length;
    }
  }
  return out;
}

}  // namespace zelko_ipc
