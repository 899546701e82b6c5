// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <chrono>
#include <expected>
#include <functional>
#include <string>
#include <vector>

#include "zelko/ipc/fd.hpp"

namespace derodi_sim {

/// The environment a child of the sim gets: the sim's own without anything
/// that could lead the child to another agent or have it ask a user
/// (SSH_AUTH_SOCK, SSH_AGENT_PID, SSH_ASKPASS...), then `settings`
/// ("NAME=value"), each replacing any entry of the same name.
[[nodiscard]] std::vector<std::string> child_environment(
    const std::vector<std::string>& settings = {});

/// Runs `argv` (found on PATH) to completion in child_environment(settings),
/// standard input from /dev/null. Returns its standard output, or a message
/// with its standard error when it fails. The program is killed when it
/// runs longer than `time_limit`, when `abandoned` (asked every tenth of a
/// second) says so, and when the thread that runs it ends.
[[nodiscard]] std::expected<std::string, std::string> run_captured(
    const std::vector<std::string>& argv, const std::vector<std::string>& settings,
    std::chrono::seconds time_limit, const std::function<bool()>& abandoned = {});

/// A program running in the background under its guardian (see start_child).
struct Child {
  pid_t guardian = -1;
  zelko_ipc::Fd errors;  // the reading end of the program's standard error
};

/// Starts `argv` (found on PATH) in the background in child_environment(),
/// standard input and output on /dev/null and standard error into a pipe,
/// under a guardian process: the program ends when the guardian is sent
/// SIGTERM, and when this process ends, however it ends; the guardian
/// exits when the program does. Program and guardian share a process group
/// of their own, whose id is the guardian's.
[[nodiscard]] std::expected<Child, std::string> start_child(const std::vector<std::string>& argv);

}  // namespace derodi_sim
