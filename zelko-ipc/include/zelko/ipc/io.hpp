// SPDX-License-Identifier: MIT
#pragma once

// Whole-buffer reads and writes on blocking descriptors.

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>

namespace zelko_ipc {

inline constexpr std::string_view k_short_write = "failed to write whole buffer";
inline constexpr std::string_view k_short_read = "failed to fill whole buffer";

/// What went wrong with a write: the error number (0 when a call accepted
/// nothing), its rendered text, and how many bytes went out before it.
struct WriteError {
  int code = 0;
  std::string text;
  std::size_t written = 0;
};

/// Writes all of `bytes` to `fd`, repeating calls that a signal interrupted.
/// Fails with k_short_write when a call accepts nothing, or with the system
/// error.
[[nodiscard]] std::expected<void, WriteError> write_all(int fd, std::string_view bytes);

/// Fills `size` bytes at `buffer` from the socket `fd` with recv, repeating
/// after short reads and interruptions. Returns k_short_read when the stream
/// ends first, or the rendered system error.
[[nodiscard]] std::expected<void, std::string> recv_exact(int fd, void* buffer, std::size_t size);

}  // namespace zelko_ipc
