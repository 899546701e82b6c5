// SPDX-License-Identifier: MIT
#include "json.hpp"

#include <array>
#include <cstring>

#include "zelko/ipc/terminal.hpp"

namespace zelko_cli {

namespace {

constexpr char k_hex_digits[] = "0123456789abcdef";

// For each byte, the letter of its short escape, 'u' for the \u00XX form,
// or 0 when it goes unchanged.
constexpr std::array<char, 256> k_escapes = [] {
  std::array<char, 256> table{};
  for (int byte = 0; byte < 0x20; ++byte) {
    table[byte] = 'u';
  }
  table['"'] = '"';
  table['\\'] = '\\';
  table['\t'] = 't';
  table['\n'] = 'n';
  table['\r'] = 'r';
  return table;
}();

char* write_unicode_escape(char* out, char32_t c) {
  if (c > 0xFFFF) {
    // Beyond the Basic Multilingual Plane, as a UTF-16 surrogate pair.
    out = write_unicode_escape(out, 0xD800 + ((c - 0x10000) >> 10));
    return write_unicode_escape(out, 0xDC00 + ((c - 0x10000) & 0x3FF));
  }
  std::memcpy(out, "\\u", 2);
  for (int shift = 12, i = 2; shift >= 0; shift -= 4, ++i) {
    out[i] = k_hex_digits[(c >> shift) & 0xF];
  }
  return out + 6;
}

char* write_escape(char* out, unsigned char byte) {
  const char letter = k_escapes[byte];
  if (letter == 'u') {
    return write_unicode_escape(out, byte);
  }
  out[0] = '\\';
  out[1] = letter;
  return out + 2;
}

}  // namespace

char* write_json_escaped(char* out, std::string_view text) {
  std::size_t from = 0;
  while (from < text.size()) {
    // The run of bytes that go unchanged, copied at once, then one escape.
    std::size_t end = from;
    while (end < text.size() && k_escapes[static_cast<unsigned char>(text[end])] == 0) {
      ++end;
    }
    std::memcpy(out, text.data() + from, end - from);
    out += end - from;
    if (end == text.size()) {
      break;
    }
    out = write_escape(out, static_cast<unsigned char>(text[end]));
    from = end + 1;
  }
  return out;
}

std::string json_string(std::string_view text) {
  std::string literal;
  literal.resize_and_overwrite(text.size() * k_json_expansion + 2, [&](char* out, std::size_t) {
    char* end = out;
    *end++ = '"';
    end = write_json_escaped(end, text);
    *end++ = '"';
    return static_cast<std::size_t>(end - out);
  });
  return literal;
}

char* write_json_escaped_for_terminal(char* out, std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (k_escapes[byte] != 0) {
      out = write_escape(out, byte);
      ++i;
      continue;
    }
    const auto unsafe = zelko_ipc::unsafe_character_at(text.substr(i));
    if (unsafe.length == 0) {
      *out++ = text[i++];
    } else {
      out = write_unicode_escape(out, unsafe.code_point);
      i += unsafe.length;
    }
  }
  return out;
}

}  // namespace zelko_cli
