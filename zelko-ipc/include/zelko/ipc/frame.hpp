#pragma once

// Framing shared by both ends of the control socket: a 4-byte big-endian
// body length, then the body.

#include <cstdint>
#include <string>
#include <string_view>

namespace zelko_ipc {

/// The largest answer body a client accepts (1 MiB).
inline constexpr std::uint32_t k_max_answer_length = 1u << 20;

/// Returns the 4-byte length followed by `body`, in one buffer.
[[nodiscard]] std::string make_frame(std::string_view body);

/// Reads the big-endian length at the start of a 4-byte header.
[[nodiscard]] std::uint32_t frame_length(const unsigned char (&header)[4]);

}  // namespace zelko_ipc
