// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <chrono>
#include <expected>
#include <span>
#include <string>
#include <vector>

#include "stop_signals.hpp"
#include "zelko/ipc/fd.hpp"

namespace derodi_sim {

/// The environment a child of the sim gets: the sim's own without anything
/// that could lead the child to another agent or have it ask a user
/// (SSH_AUTH_SOCK, SSH_AGENT_PID, SSH_ASKPASS...), then `settings`
/// ("NAME=value"), each replacing any entry of the same name.
[[nodiscard]] std::vector<std::string> child_environment(
    const std::vector<std::string>& settings = {});

/// How a short-lived program runs: in the directory `directory` (a
/// descriptor), with `settings` added to child_environment(), for at most
/// `time_limit`; ended early when the sim stops, or when the client
/// watched by `client` (when there is one) leaves. A descriptor in `passed`
/// is the program's descriptor 3 (k_passed_fd).
struct RunLimits {
  int directory;
  std::chrono::seconds time_limit;
  const Stop& stop;
  const HangUpWatch* client = nullptr;
  int passed = -1;
};
inline constexpr int k_passed_fd = 3;

/// One stream of a child's output, and the text it is read into.
struct OutputStream {
  int fd;
  std::string* text;
};

/// The one reader of a child's output: reads each of `streams` into its
/// text until all have ended or, with `one_line`, a line stands in the
/// first one's; gives up when the sim stops, the client connected on
/// `client` (when it is not -1) leaves, or `deadline` passes, and says
/// which. Waited::ready when it read what it read for.
[[nodiscard]] Waited read_output(std::span<const OutputStream> streams, const Stop& stop,
                                 Deadline deadline, int client = -1, bool one_line = false);

/// Runs `argv` (found on PATH) to completion, standard input from
/// /dev/null, and returns its standard output, or a message with its
/// standard error when it fails or is ended early.
[[nodiscard]] std::expected<std::string, std::string> run_captured(
    const std::vector<std::string>& argv, const std::vector<std::string>& settings,
    const RunLimits& limits);

/// A program running in the background under its guardian (see start_child).
struct Child {
  pid_t guardian = -1;
  zelko_ipc::Fd output;  // the reading end of the program's standard output
  zelko_ipc::Fd errors;  // the reading end of the program's standard error
};

/// Starts `argv` (found on PATH) in the background in the directory
/// `directory` (a descriptor) and child_environment(), standard input on
/// /dev/null, standard output and error into pipes, under a guardian
/// process: the program ends when the guardian is sent SIGTERM, and when
/// this process ends, however it ends; the guardian exits when the program
/// does. Program and guardian share a process group of their own, whose id
/// is the guardian's.
[[nodiscard]] std::expected<Child, std::string> start_child(const std::vector<std::string>& argv,
                                                            int directory);

}  // namespace derodi_sim
