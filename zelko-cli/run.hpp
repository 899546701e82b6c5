// SPDX-License-Identifier: MIT
#pragma once

#include <span>
#include <string_view>

#include "commands.hpp"
#include "console.hpp"

namespace zelko_cli {

/// The usage text printed for "help", "--help", "-h" and no arguments.
extern const std::string_view k_usage;

/// Runs the command named by `arguments` (the process arguments without the
/// program name) and returns its outcome.
[[nodiscard]] Outcome run(std::span<const std::string_view> arguments, Console& console);

}  // namespace zelko_cli
