// SPDX-License-Identifier: MIT
#pragma once

// The daemon's side of the sockets: listening, and reads and writes with a
// deadline, so that no client can hold up a daemon's thread for longer than
// the daemon allows. For the stand-in daemon and the tests.

#include <poll.h>

#include <chrono>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>

#include "zelko/ipc/fd.hpp"
#include "zelko/ipc/frame.hpp"

namespace zelko_ipc::daemon {

inline constexpr std::string_view k_timed_out = "timed out";

/// When a read or a write must be over.
using Deadline = std::chrono::steady_clock::time_point;

/// No deadline at all: a wait as long as it takes, which wakes for nothing
/// else.
inline constexpr Deadline k_no_deadline = Deadline::max();

/// The daemon side's one way to wait: until one of `watched` is ready
/// (its revents set) or `deadline` has passed, going on after a signal;
/// false when the deadline passed first. It polls at least once, so a
/// deadline already past asks whether one is ready now. A failed poll
/// counts as ready: the caller's next call reports the failure.
[[nodiscard]] bool wait_until(std::span<pollfd> watched, Deadline deadline);

/// Creates a stream socket bound to `path` and listening on it.
[[nodiscard]] std::expected<Fd, std::string> listen_unix(std::string_view path, int backlog = 64);

/// Reads one frame from the socket `fd` as zelko_ipc::read_frame does,
/// giving up with k_timed_out once `deadline` has passed.
[[nodiscard]] std::expected<std::string, FrameError> read_frame(int fd, std::uint32_t max_length,
                                                                Deadline deadline);

/// Sends all of `bytes` on the socket `fd`, giving up with k_timed_out once
/// `deadline` has passed.
[[nodiscard]] std::expected<void, std::string> send_all(int fd, std::string_view bytes,
                                                        Deadline deadline);

}  // namespace zelko_ipc::daemon
