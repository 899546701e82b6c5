// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

namespace derodi_sim {

/// Why `name` cannot name a key on the phone, in the phone's own words, or
/// nothing when it can. A name must be UTF-8, hold something visible, and
/// hold no control character, no invisible formatting character
/// (bidirectional controls, zero-width characters, byte-order marks) and
/// no line or paragraph separator: whoever reads it must see all of it.
[[nodiscard]] std::string name_fault(std::string_view name);

}  // namespace derodi_sim
