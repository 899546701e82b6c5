// SPDX-License-Identifier: MIT
#include "zelko/ipc/os_error.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace zelko_ipc {

std::string describe_os_error(int code) {
  // The C library's descriptions are short; a longer one would be cut.
  char text[256];
  const int length =
      std::snprintf(text, sizeof text, "%s (os error %d)", std::strerror(code), code);
  return std::string(text, static_cast<std::size_t>(std::clamp(length, 0, int{sizeof text} - 1)));
}

}  // namespace zelko_ipc
