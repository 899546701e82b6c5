#include "terminal.hpp"

namespace zelko_cli {

namespace {

constexpr char k_hex_digits[] = "0123456789abcdef";

std::uint8_t byte_at(std::string_view text, std::size_t i) {
  return static_cast<std::uint8_t>(text[i]);
}

void append_hex(std::string& out, char32_t value, int digits) {
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
    out.push_back(k_hex_digits[(value >> shift) & 0xF]);
  }
}

}  // namespace

UnsafeCharacter unsafe_character_at(std::string_view text) {
  const std::uint8_t lead = byte_at(text, 0);
  if ((lead < 0x20 && lead != '\t' && lead != '\n') || lead == 0x7F) {
    return {lead, 1};
  }
  // C1 controls, U+0080 to U+009F: C2 80 to C2 9F.
  if (lead == 0xC2 && text.size() >= 2 && byte_at(text, 1) >= 0x80 && byte_at(text, 1) <= 0x9F) {
    return {byte_at(text, 1), 2};
  }
  // U+202A to U+202E are E2 80 AA to E2 80 AE; U+2066 to U+2069 are E2 81 A6 to E2 81 A9.
  if (lead == 0xE2 && text.size() >= 3) {
    const std::uint8_t second = byte_at(text, 1);
    const std::uint8_t third = byte_at(text, 2);
    if ((second == 0x80 && third >= 0xAA && third <= 0xAE) ||
        (second == 0x81 && third >= 0xA6 && third <= 0xA9)) {
      return {0x2000u + ((second & 0x3Fu) << 6) + (third & 0x3Fu), 3};
    }
  }
  return {0, 0};
}

void append_for_terminal(std::string& out, std::string_view text) {
  std::size_t run_start = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const UnsafeCharacter unsafe = unsafe_character_at(text.substr(i));
    if (unsafe.length == 0 && text[i] != '\\') {
      ++i;
      continue;
    }
    out.append(text.substr(run_start, i - run_start));
    if (unsafe.length == 0) {
      out += "\\\\";
      i += 1;
    } else if (unsafe.code_point < 0x80) {
      out += "\\x";
      append_hex(out, unsafe.code_point, 2);
      i += unsafe.length;
    } else {
      out += "\\u{";
      append_hex(out, unsafe.code_point, unsafe.code_point < 0x100 ? 2 : 4);
      out += "}";
      i += unsafe.length;
    }
    run_start = i;
  }
  out.append(text.substr(run_start));
}

}  // namespace zelko_cli
