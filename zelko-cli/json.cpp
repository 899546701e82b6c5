// SPDX-License-Identifier: MIT
#include "json.hpp"

#include <array>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "terminal.hpp"

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

// Writes the bytes from `at` to `end`, escaped, and returns where the output ends.
char* write_bytes(char* out, const char* at, const char* end) {
  for (; at < end; ++at) {
    const auto byte = static_cast<unsigned char>(*at);
    if (k_escapes[byte] == 0) {
      *out++ = static_cast<char>(byte);
    } else {
      out = write_escape(out, byte);
    }
  }
  return out;
}

#if defined(__SSE2__)

// The bytes of a block that need an escape (below 0x20, quotation mark,
// backslash), one bit each.
unsigned escape_mask(__m128i block) {
  const __m128i controls = _mm_cmpeq_epi8(_mm_min_epu8(block, _mm_set1_epi8(0x1F)), block);
  const __m128i quotes = _mm_cmpeq_epi8(block, _mm_set1_epi8('"'));
  const __m128i backslashes = _mm_cmpeq_epi8(block, _mm_set1_epi8('\\'));
  return static_cast<unsigned>(
      _mm_movemask_epi8(_mm_or_si128(controls, _mm_or_si128(quotes, backslashes))));
}

__m128i load16(const char* at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

__m128i load8(const char* at) {
  return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(at));
}

// Copies the start of `text`, of 8 bytes or more, up to the first block
// that holds a byte needing an escape: a block at a time, the last block
// overlapping the one before. A text without one, the most common case by
// far, is copied whole. Returns how much was copied.
std::size_t copy_plain(char* out, std::string_view text) {
  const char* const in = text.data();
  const std::size_t size = text.size();
  if (size < 16) {
    const __m128i first = load8(in);
    const __m128i last = load8(in + size - 8);
    if (((escape_mask(first) | escape_mask(last)) & 0xFF) != 0) {
      return 0;
    }
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), first);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + size - 8), last);
    return size;
  }
  for (std::size_t i = 0;; i += 16) {
    const std::size_t at = i + 16 < size ? i : size - 16;
    const __m128i block = load16(in + at);
    if (escape_mask(block) != 0) {
      return i;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at), block);
    if (at == size - 16) {
      return size;
    }
  }
}

// Writes the first `count` bytes of `block` (the text at `at`) at `out`:
// up to the first that needs an escape in one store, which may reach up to
// 16 bytes past the end, then that escape. Returns how far it got.
struct Step {
  char* out;
  std::size_t taken;
};

[[gnu::always_inline]] inline Step write_block(char* out, __m128i block, const char* at,
                                               unsigned count) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), block);
  const unsigned mask = escape_mask(block) & ((1u << count) - 1);
  if (mask == 0) {
    return {out + count, count};
  }
  const auto plain = static_cast<unsigned>(__builtin_ctz(mask));
  return {write_escape(out + plain, static_cast<unsigned char>(at[plain])), plain + 1};
}

#endif

}  // namespace

namespace {

// write_json_escaped for the rest of `text` from `from` on, where it holds
// an escape.
[[gnu::noinline]] char* write_escaped_from(char* out, std::string_view text, std::size_t from) {
  const char* at = text.data() + from;
  const char* const end = text.data() + text.size();
#if defined(__SSE2__)
  // Sixteen bytes at a time, then eight, while there are so many.
  while (end - at >= 16) {
    const Step step = write_block(out, load16(at), at, 16);
    out = step.out;
    at += step.taken;
  }
  while (end - at >= 8) {
    const Step step = write_block(out, load8(at), at, 8);
    out = step.out;
    at += step.taken;
  }
  if (at < end && text.size() >= 8) {
    // The last few bytes: loaded with the ones before them, moved to the
    // front of a block through memory.
    alignas(16) char window[32] = {};
    _mm_storel_epi64(reinterpret_cast<__m128i*>(window + 8), load8(end - 8));
    while (at < end) {
      const auto left = static_cast<unsigned>(end - at);
      const Step step = write_block(out, load8(window + 16 - left), at, left);
      out = step.out;
      at += step.taken;
    }
    return out;
  }
#endif
  return write_bytes(out, at, end);
}

}  // namespace

char* write_json_escaped(char* out, std::string_view text) {
#if defined(__SSE2__)
  if (text.size() >= 8) {
    const std::size_t plain = copy_plain(out, text);
    if (plain == text.size()) {
      return out + plain;
    }
    return write_escaped_from(out + plain, text, plain);
  }
#endif
  return write_bytes(out, text.data(), text.data() + text.size());
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
    const UnsafeCharacter unsafe = unsafe_character_at(text.substr(i));
    if (unsafe.length == 0) {
      *out++ = text[i++];
    } else {
      out = write_unicode_escape(out, unsafe.code_point);
      i += unsafe.length;
    }
  }
  return out;
}

std::string json_string(std::string_view text) {
  std::string literal;
  literal.resize_and_overwrite(k_json_expansion * text.size() + 2 + k_json_slack,
                               [&](char* data, std::size_t) -> std::size_t {
                                 data[0] = '"';
                                 char* end = write_json_escaped(data + 1, text);
                                 *end++ = '"';
                                 return static_cast<std::size_t>(end - data);
                               });
  return literal;
}

}  // namespace zelko_cli
