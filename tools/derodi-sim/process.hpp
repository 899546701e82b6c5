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

/// How a short-lived program runs: in `directory` (a descriptor), for at
/// most `time_limit`, ended early when the sim stops or `client` (if any)
/// leaves; `passed` (if any) becomes its descriptor k_passed_fd.
struct RunLimits {
  int directory;
  std::chrono::seconds time_limit;
  const Stop& stop;
  const HangUpWatch* client = nullptr;
  int passed = -1;
};
inline constexpr int k_passed_fd = 3;

inline constexpr std::size_t k_line_limit = 4096;
struct OutputStream {
  int fd;
  std::string* text;
};

/// Reads each of a child's `streams` into its text until all have ended
/// (with `one_line`, until the first holds a line or k_line_limit bytes),
/// or the sim stops, the client on `client` (unless -1) leaves, or
/// `deadline` passes.
[[nodiscard]] Waited read_output(std::span<const OutputStream> streams, const Stop& stop,
                                 Deadline deadline, int client = -1, bool one_line = false);

/// Runs `argv` (found on PATH), with `settings` in its environment, and
/// gives its standard output, or why it failed with its standard error.
[[nodiscard]] std::expected<std::string, std::string> run_captured(
    const std::vector<std::string>& argv, const std::vector<std::string>& settings,
    const RunLimits& limits);

/// A program running in the background under its guardian, with its
/// standard output and error on pipes.
struct Child {
  pid_t guardian = -1;  // also the id of their process group
  zelko_ipc::Fd output;
  zelko_ipc::Fd errors;
};

/// Starts `argv` in the background in `directory` under a guardian: the
/// program ends when the guardian gets SIGTERM and when the sim ends,
/// however it ends; the guardian exits when the program does.
[[nodiscard]] std::expected<Child, std::string> start_child(const std::vector<std::string>& argv,
                                                            int directory);

}  // namespace derodi_sim
