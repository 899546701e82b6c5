// SPDX-License-Identifier: MIT
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "commands.hpp"

namespace zelko_cli::setup {

/// Tells whether the daemon answers a status request with anything but an
/// error answer. Carries no state.
using DaemonProbe = bool (*)();

/// The probe the front end hands to `run`: one status exchange.
[[nodiscard]] bool daemon_answers();

/// On Linux, returns the advice on making the daemon the agent for new
/// shells as its error, or an unknown-flag error. Never calls `probe`.
[[nodiscard]] Outcome run(std::span<const std::string_view> arguments, DaemonProbe probe);

/// The status report's lines about this shell's agent: one line saying
/// whether SSH_AUTH_SOCK, trimmed of white space, is `endpoint`.
[[nodiscard]] std::vector<std::string> environment_lines(std::string_view endpoint);

/// The same for a given value of SSH_AUTH_SOCK (null when unset).
[[nodiscard]] std::vector<std::string> environment_lines_for(std::string_view endpoint,
                                                             const char* auth_sock);

}  // namespace zelko_cli::setup
