// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zelko_ipc {

/// Reads an unsigned decimal number: at most one leading "+", then one or more
/// ASCII digits and nothing else, leading zeros allowed, value at most `max`.
/// Returns nothing for any other text (empty, a lone "+", a "-", blanks, too large).
[[nodiscard]] std::optional<std::uint64_t> parse_unsigned_decimal(std::string_view text,
                                                                  std::uint64_t max);

/// Writes `value` in plain decimal: digits only, no sign, no leading zeros.
void append_decimal(std::string& out, std::uint64_t value);

/// `value` in plain decimal, as append_decimal writes it.
[[nodiscard]] std::string to_decimal(std::uint64_t value);

}  // namespace zelko_ipc
