// SPDX-License-Identifier: MIT
#pragma once

#include <expected>
#include <string>
#include <string_view>

namespace zelko_ipc::runtime_dir {

inline constexpr std::string_view k_not_set = "XDG_RUNTIME_DIR is not set";

/// Returns "$XDG_RUNTIME_DIR/zelko/control.sock" as raw bytes (the value need
/// not be UTF-8 and is taken unchanged), or k_not_set when the variable is
/// unset or empty. Nothing on disk is created or examined.
[[nodiscard]] std::expected<std::string, std::string_view> control_socket_path();

/// The same for a given value of XDG_RUNTIME_DIR (null when unset).
[[nodiscard]] std::expected<std::string, std::string_view> control_socket_path_in(
    const char* runtime_dir);

}  // namespace zelko_ipc::runtime_dir
