#include "zelko/ipc/os_error.hpp"

#include <cstring>

#include "zelko/ipc/decimal.hpp"

namespace zelko_ipc {

std::string describe_os_error(int code) {
  std::string text = std::strerror(code);
  text += " (os error ";
  append_decimal(text, static_cast<std::uint32_t>(code));
  text.push_back(')');
  return text;
}

}  // namespace zelko_ipc
