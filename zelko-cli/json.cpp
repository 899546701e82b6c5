#include "json.hpp"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "terminal.hpp"

namespace zelko_cli {

namespace {

constexpr char k_hex_digits[] = "0123456789abcdef";

bool needs_escape(unsigned char byte) {
  return byte < 0x20 || byte == '"' || byte == '\\';
}

char* write_escape(char* out, unsigned char byte) {
  *out++ = '\\';
  switch (byte) {
    case '"':
      *out++ = '"';
      break;
    case '\\':
      *out++ = '\\';
      break;
    case '\t':
      *out++ = 't';
      break;
    case '\n':
      *out++ = 'n';
      break;
    case '\r':
      *out++ = 'r';
      break;
    default:
      std::memcpy(out, "u00", 3);
      out[3] = k_hex_digits[byte >> 4];
      out[4] = k_hex_digits[byte & 0xF];
      out += 5;
  }
  return out;
}

void append_escape(std::string& out, unsigned char byte) {
  char escape[6];
  out.append(escape, static_cast<std::size_t>(write_escape(escape, byte) - escape));
}

#if defined(__SSE2__)

// The bytes of a 16-byte block that need an escape (below 0x20, quotation
// mark, backslash), one bit each.
unsigned escape_mask(__m128i block) {
  const __m128i controls = _mm_cmpeq_epi8(_mm_min_epu8(block, _mm_set1_epi8(0x1F)), block);
  const __m128i quotes = _mm_cmpeq_epi8(block, _mm_set1_epi8('"'));
  const __m128i backslashes = _mm_cmpeq_epi8(block, _mm_set1_epi8('\\'));
  return static_cast<unsigned>(
      _mm_movemask_epi8(_mm_or_si128(controls, _mm_or_si128(quotes, backslashes))));
}

// Writes the 16 bytes at `in`, of which the first `count` are text: each
// run of plain bytes leaves in one 16-byte store, so `out` needs 16 bytes of
// room beyond what the text itself takes.
char* write_block(char* out, const char* in, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + done));
    const unsigned mask = escape_mask(block) & ((1u << (count - done)) - 1) & 0xFFFF;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), block);
    if (mask == 0) {
      return out + (count - done);
    }
    const auto plain = static_cast<std::size_t>(__builtin_ctz(mask));
    out = write_escape(out + plain, static_cast<unsigned char>(in[done + plain]));
    done += plain + 1;
  }
  return out;
}

}  // namespace

char* write_json_string(char* out, std::string_view text) {
  *out++ = '"';
  const char* at = text.data();
  std::size_t left = text.size();
  while (left >= 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    if (escape_mask(block) == 0) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), block);
      out += 16;
      at += 16;
      left -= 16;
      continue;
    }
    // The block holds an escape: its bytes go one run at a time.
    alignas(16) char copy[32];
    std::memcpy(copy, at, 16);
    std::memset(copy + 16, 'a', 16);
    out = write_block(out, copy, 16);
    at += 16;
    left -= 16;
  }
  if (left > 0) {
    // The last few bytes, padded to a whole block with plain letters.
    alignas(16) char tail[32];
    std::memset(tail, 'a', sizeof tail);
    std::memcpy(tail, at, left);
    out = write_block(out, tail, left);
  }
  *out++ = '"';
  return out;
}

#else

}  // namespace

char* write_json_string(char* out, std::string_view text) {
  *out++ = '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    out = needs_escape(byte) ? write_escape(out, byte) : (*out = c, out + 1);
  }
  *out++ = '"';
  return out;
}

#endif

void append_json_string(std::string& out, std::string_view text) {
  const std::size_t start = out.size();
  out.resize_and_overwrite(start + json_string_room(text.size()), [&](char* data, std::size_t) {
    return static_cast<std::size_t>(write_json_string(data + start, text) - data);
  });
}

std::string json_string(std::string_view text) {
  std::string out;
  append_json_string(out, text);
  return out;
}

void append_json_string_for_terminal(std::string& out, std::string_view text) {
  out.push_back('"');
  std::size_t run_start = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const UnsafeCharacter unsafe = unsafe_character_at(text.substr(i));
    if (!needs_escape(byte) && unsafe.length == 0) {
      ++i;
      continue;
    }
    out.append(text.substr(run_start, i - run_start));
    if (needs_escape(byte)) {
      append_escape(out, byte);
      i += 1;
    } else {
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) {
        out.push_back(k_hex_digits[(unsafe.code_point >> shift) & 0xF]);
      }
      i += unsafe.length;
    }
    run_start = i;
  }
  out.append(text.substr(run_start));
  out.push_back('"');
}

}  // namespace zelko_cli
