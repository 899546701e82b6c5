// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <expected>
#include <functional>
#include <string>
#include <vector>

namespace derodi_sim {

/// Runs `argv` (found on PATH) to completion with `extra_environment`
/// ("NAME=value") added, standard input from /dev/null. Returns its standard
/// output, or a message with its standard error when it fails. The program
/// is killed when `abandoned` (asked every tenth of a second) says so, and
/// when the thread that runs it ends, however the sim ends.
[[nodiscard]] std::expected<std::string, std::string> run_captured(
    const std::vector<std::string>& argv, const std::vector<std::string>& extra_environment = {},
    const std::function<bool()>& abandoned = {});

/// Starts `argv` (found on PATH) in the background with standard input and
/// output on /dev/null, under a guardian process whose id is returned: the
/// program ends when the guardian is sent SIGTERM, and when this process
/// ends, however it ends; the guardian exits when the program does. Must be
/// called before any other thread starts, from the one that lives longest.
[[nodiscard]] std::expected<pid_t, std::string> start_child(const std::vector<std::string>& argv);

}  // namespace derodi_sim
