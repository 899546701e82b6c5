// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

namespace derodi_sim {

/// The texts one after the other, in a new string. (Used for messages
/// rather than chains of "literal" + temporary, which g++ 12 at -O3 warns
/// about falsely on some targets.)
template <class... Texts>
[[nodiscard]] std::string concat(const Texts&... texts) {
  std::string out;
  (out.append(std::string_view(texts)), ...);
  return out;
}

/// `text` between single quotation marks, as the sim's answers to clients
/// name things (the client shows them safely).
[[nodiscard]] inline std::string quoted(std::string_view text) {
  return concat("'", text, "'");
}

}  // namespace derodi_sim
