// SPDX-License-Identifier: MIT
#pragma once

#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "phone.hpp"

namespace derodi_sim {

/// The name of the sim's own state directory, in its zelko directory.
inline constexpr std::string_view k_default_state_name = "sim-state";

struct Options {
  std::string runtime_dir;            // where zelko/control.sock and zelko/agent.sock go
  std::string state_dir;              // where the phone's key files live
  bool state_dir_is_default = false;  // the sim's own, in the runtime directory
  bool keep_state = false;            // keep the key files when the sim stops
  std::string ready_file;             // told the agent endpoint once the sim listens
  std::vector<std::string> trusted;   // destinations to trust from the start, by name
  Behaviour behaviour;
  bool help = false;
};

extern const std::string_view k_help;

/// Reads the command-line flags. `runtime_dir_env` is XDG_RUNTIME_DIR (null
/// when unset), the default runtime directory.
[[nodiscard]] std::expected<Options, std::string> parse_options(
    std::span<const std::string_view> arguments, const char* runtime_dir_env);

}  // namespace derodi_sim
