// SPDX-License-Identifier: MIT
#include "key_names.hpp"

#include "characters.hpp"
#include "foreign_text.hpp"
#include "zelko/ipc/utf8.hpp"
#include "zelko/ipc/white_space.hpp"

namespace derodi_sim {

std::string name_fault(std::string_view name) {
  if (name.empty()) {
    return "a key name must not be empty";
  }
  if (zelko_ipc::trim_white_space(name).empty()) {
    return "a key name must hold more than white space";
  }
  bool visible = false;
  std::size_t characters = 0;
  for (std::size_t at = 0; at < name.size(); ++characters) {
    const auto c = zelko_ipc::decode_utf8(name.substr(at));
    if (!c) {
      return "a key name must be UTF-8";
    }
    if (is_control(c->value)) {
      return "a key name must not hold control characters";
    }
    if (is_formatting(c->value)) {
      return "a key name must not hold invisible formatting characters or line separators";
    }
    visible = visible || !is_invisible(c->value);
    at += c->length;
  }
  if (!visible) {
    return "a key name must hold something visible";
  }
  if (characters > k_field_characters) {
    return "a key name must be at most " + std::to_string(k_field_characters) + " characters long";
  }
  return {};
}

}  // namespace derodi_sim
