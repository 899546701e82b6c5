#pragma once

#include <sys/types.h>

#include <expected>
#include <string>
#include <vector>

namespace derodi_sim {

/// Runs `argv` (found on PATH) to completion with `extra_environment`
/// ("NAME=value") added, standard input from /dev/null. Returns its standard
/// output, or a message with its standard error when it fails.
[[nodiscard]] std::expected<std::string, std::string> run_captured(
    const std::vector<std::string>& argv, const std::vector<std::string>& extra_environment = {});

/// Starts `argv` in the background with standard input and output on
/// /dev/null. Returns its process id.
[[nodiscard]] std::expected<pid_t, std::string> start_background(
    const std::vector<std::string>& argv);

}  // namespace derodi_sim
