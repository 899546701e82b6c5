// SPDX-License-Identifier: MIT
#pragma once

#include <string_view>

namespace zelko_ipc {

/// True for the characters with the Unicode White_Space property.
[[nodiscard]] bool is_white_space(char32_t c);

/// Returns `text` (UTF-8) without the white space at both ends.
[[nodiscard]] std::string_view trim_white_space(std::string_view text);

}  // namespace zelko_ipc
