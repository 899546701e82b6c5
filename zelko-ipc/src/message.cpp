// SPDX-License-Identifier: MIT
#include "zelko/ipc/message.hpp"

#include <algorithm>

namespace zelko_ipc {

bool Message::contains(std::string_view needle) const {
  if (needle.empty()) {
    return true;
  }
  // What the parts seen so far end with (never a whole match), so that a
  // needle split across parts is found without joining the whole text.
  std::string tail;
  for (const Part& part : m_parts) {
    if (part.text.contains(needle)) {
      return true;
    }
    tail += std::string_view(part.text).substr(0, needle.size() - 1);
    if (tail.contains(needle)) {
      return true;
    }
    if (part.text.size() >= needle.size() - 1) {
      tail.assign(part.text, part.text.size() - (needle.size() - 1));
    } else if (tail.size() > needle.size() - 1) {
      tail.erase(0, tail.size() - (needle.size() - 1));
    }
  }
  return false;
}

std::string Message::text() const {
  std::string whole;
  for (const Part& part : m_parts) {
    whole += part.text;
  }
  return whole;
}

bool Message::empty() const {
  return std::all_of(m_parts.begin(), m_parts.end(),
                     [](const Part& part) { return part.text.empty(); });
}

}  // namespace zelko_ipc
