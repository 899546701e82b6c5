// SPDX-License-Identifier: MIT
#include "zelko/ipc/utf8.hpp"

#include <cstdint>
#include <cstring>

namespace zelko_ipc {

namespace {

constexpr std::string_view k_replacement = "\xEF\xBF\xBD";

std::uint8_t byte_at(std::string_view text, std::size_t i) {
  return static_cast<std::uint8_t>(text[i]);
}

// How many bytes form the longest prefix of `text` that could start a
// well-formed character (its maximal subpart), at least one. For a
// well-formed character this is its whole length.
std::size_t valid_prefix_length(std::string_view text, std::size_t& needed) {
  const std::uint8_t lead = byte_at(text, 0);
  std::uint8_t low = 0x80;
  std::uint8_t high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    needed = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    needed = 3;
    low = lead == 0xE0 ? 0xA0 : 0x80;
    high = lead == 0xED ? 0x9F : 0xBF;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    needed = 4;
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF;
  } else {
    needed = lead < 0x80 ? 1 : 0;
    return 1;
  }
  std::size_t length = 1;
  while (length < needed && length < text.size()) {
    const std::uint8_t next = byte_at(text, length);
    if (next < low || next > high) {
      break;
    }
    low = 0x80;
    high = 0xBF;
    ++length;
  }
  return length;
}

}  // namespace

std::optional<CodePoint> decode_utf8(std::string_view text) {
  if (text.empty()) {
    return std::nullopt;
  }
  std::size_t needed = 0;
  const std::size_t length = valid_prefix_length(text, needed);
  if (length != needed) {
    return std::nullopt;
  }
  static constexpr std::uint8_t k_lead_mask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  char32_t value = byte_at(text, 0) & k_lead_mask[length];
  for (std::size_t i = 1; i < length; ++i) {
    value = (value << 6) | (byte_at(text, i) & 0x3F);
  }
  return CodePoint{value, length};
}

namespace {

// How many bytes at the start of `text` are ASCII, counted 64 at a time:
// the count stops short of the first block that holds another byte.
std::size_t ascii_blocks(std::string_view text) {
  std::size_t i = 0;
  for (; i + 64 <= text.size(); i += 64) {
    std::uint64_t w[8];
    std::memcpy(w, text.data() + i, sizeof w);
    if (((w[0] | w[1] | w[2] | w[3] | w[4] | w[5] | w[6] | w[7]) & 0x8080808080808080u) != 0) {
      break;
    }
  }
  return i;
}

}  // namespace

bool is_valid_utf8(std::string_view text) {
  // ASCII is by far the most common; it is skipped a block at a time.
  std::size_t i = 0;
  while (i < text.size()) {
    if (i % 64 == 0) {
      i += ascii_blocks(text.substr(i));
      if (i == text.size()) {
        break;
      }
    }
    if (byte_at(text, i) < 0x80) {
      ++i;
      continue;
    }
    std::size_t needed = 0;
    const std::size_t length = valid_prefix_length(text.substr(i), needed);
    if (length != needed) {
      return false;
    }
    i += length;
  }
  return true;
}

std::string to_utf8_lossy(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  while (!bytes.empty()) {
    std::size_t needed = 0;
    const std::size_t length = valid_prefix_length(bytes, needed);
    if (length == needed) {
      out.append(bytes.substr(0, length));
    } else {
      out.append(k_replacement);
    }
    bytes.remove_prefix(length);
  }
  return out;
}

}  // namespace zelko_ipc
