#pragma once

#include <string>
#include <string_view>

namespace zelko_cli {

/// Returns `value` between single quotation marks, the way messages name
/// the value they are about.
[[nodiscard]] inline std::string quoted(std::string_view value) {
  std::string text;
  text.reserve(value.size() + 2);
  text.push_back('\'');
  text.append(value);
  text.push_back('\'');
  return text;
}

}  // namespace zelko_cli
