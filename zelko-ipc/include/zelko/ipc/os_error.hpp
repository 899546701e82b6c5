// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace zelko_ipc {

/// Renders an error number as the C library's description followed by
/// " (os error {code})", for example "Connection refused (os error 111)".
[[nodiscard]] std::string describe_os_error(int code);

}  // namespace zelko_ipc
