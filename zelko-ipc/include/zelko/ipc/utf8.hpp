// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace zelko_ipc {

/// One character decoded from UTF-8: its code point and how many bytes it took.
struct CodePoint {
  char32_t value;
  std::size_t length;
};

/// Decodes the well-formed character that starts `text` (overlong forms,
/// surrogates and values above U+10FFFF are ill-formed). Returns nothing when
/// `text` is empty or does not start with a well-formed character.
[[nodiscard]] std::optional<CodePoint> decode_utf8(std::string_view text);

/// True when `text` is well-formed UTF-8 throughout.
[[nodiscard]] bool is_valid_utf8(std::string_view text);

/// Returns `bytes` with each ill-formed sequence (its maximal subpart)
/// replaced by U+FFFD.
[[nodiscard]] std::string to_utf8_lossy(std::string_view bytes);

}  // namespace zelko_ipc
