// SPDX-License-Identifier: MIT
#include "zelko/ipc/white_space.hpp"

#include <algorithm>

#include "zelko/ipc/utf8.hpp"

namespace zelko_ipc {

bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

std::string_view trim_white_space(std::string_view text) {
  std::size_t start = text.size();
  std::size_t end = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    const auto c = zelko_ipc::decode_utf8(text.substr(at));
    // A byte that starts no character counts as text, never as white space.
    const std::size_t length = c ? c->length : 1;
    if (!c || !is_white_space(c->value)) {
      start = std::min(start, at);
      end = at + length;
    }
    at += length;
  }
  return start < end ? text.substr(start, end - start) : std::string_view();
}

}  // namespace zelko_ipc
