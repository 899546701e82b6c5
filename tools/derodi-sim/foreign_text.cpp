// SPDX-License-Identifier: MIT
#include "foreign_text.hpp"

#include <cstdio>

#include "characters.hpp"
#include "zelko/ipc/utf8.hpp"

namespace derodi_sim {

namespace {

// How one character (or one byte that is no UTF-8) of a foreign text shows.
std::string shown_character(std::string_view text, std::size_t& at) {
  char escape[16];
  const auto c = zelko_ipc::decode_utf8(text.substr(at));
  if (!c) {
    std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(text[at]));
    ++at;
    return escape;
  }
  const std::string_view literal = text.substr(at, c->length);
  at += c->length;
  if (c->value == '\\' || c->value == '\'') {
    return std::string("\\").append(literal);
  }
  if (c->value < 0x80 && is_control(c->value)) {
    std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(c->value));
    return escape;
  }
  if (c->value != ' ' && (is_control(c->value) || is_invisible(c->value))) {
    std::snprintf(escape, sizeof escape, "\\u{%04x}", static_cast<unsigned>(c->value));
    return escape;
  }
  return std::string(literal);
}

}  // namespace

std::string foreign(std::string_view text, std::size_t characters) {
  std::string out = "'";
  std::size_t at = 0;
  for (std::size_t shown = 0; at < text.size() && shown < characters; ++shown) {
    std::size_t next = at;
    const std::string piece = shown_character(text, next);
    if (out.size() - 1 + piece.size() > 4 * characters) {
      break;
    }
    out.append(piece);
    at = next;
  }
  out.push_back('\'');
  if (at < text.size()) {
    out.append("... (").append(std::to_string(text.size())).append(" bytes)");
  }
  return out;
}

}  // namespace derodi_sim
