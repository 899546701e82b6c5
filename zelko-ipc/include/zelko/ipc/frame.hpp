// SPDX-License-Identifier: MIT
#pragma once

// Framing shared by both ends of the control socket: a 4-byte big-endian
// body length, then the body.

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace zelko_ipc {

/// The largest answer body a client accepts (1 MiB).
inline constexpr std::uint32_t k_max_answer_length = 1u << 20;

/// Returns the 4-byte length followed by `body`, in one buffer.
[[nodiscard]] std::string make_frame(std::string_view body);

/// Reads the big-endian length at the start of a 4-byte header.
[[nodiscard]] std::uint32_t frame_length(const unsigned char (&header)[4]);

/// Where reading a frame stopped, and why.
struct FrameError {
  enum class Stage { header, too_long, body } stage;
  std::string detail;  // the read's own error; empty for too_long
};

/// Reads one frame from the socket `fd`: the length, then a body of at most
/// `max_length` bytes. The length is checked before anything is allocated,
/// the body is read straight into a buffer of exactly its size, and nothing
/// past it is asked of the socket.
[[nodiscard]] std::expected<std::string, FrameError> read_frame(int fd, std::uint32_t max_length);

}  // namespace zelko_ipc
