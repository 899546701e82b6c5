// SPDX-License-Identifier: MIT
#include "zelko/ipc/frame.hpp"

namespace zelko_ipc {

std::string make_frame(std::string_view body) {
  // Lengths are written as their low 32 bits; no body comes near 4 GiB.
  const auto length = static_cast<std::uint32_t>(body.size());
  std::string frame;
  frame.reserve(4 + body.size());
  frame.push_back(static_cast<char>(length >> 24));
  frame.push_back(static_cast<char>(length >> 16));
  frame.push_back(static_cast<char>(length >> 8));
  frame.push_back(static_cast<char>(length));
  frame.append(body);
  return frame;
}

std::uint32_t frame_length(const unsigned char (&header)[4]) {
  return (std::uint32_t{header[0]} << 24) | (std::uint32_t{header[1]} << 16) |
         (std::uint32_t{header[2]} << 8) | std::uint32_t{header[3]};
}

namespace {

// Reads one frame with `fill(buffer, size)`, which reads exactly `size` bytes.
template <class Fill>
std::expected<std::string, FrameError> read_frame_with(Fill fill, std::uint32_t max_length) {
  unsigned char header[4];
  if (auto read = fill(header, sizeof header); !read) {
    return std::unexpected(FrameError{FrameError::Stage::header, std::move(read.error())});
  }
  const std::uint32_t length = frame_length(header);
  if (length > max_length) {
    return std::unexpected(FrameError{FrameError::Stage::too_long, {}});
  }
  std::string body;
  std::expected<void, std::string> read;
  // The read fills the buffer in place, so no byte of it is ever left
  // unwritten: on a failed read the body is cut back to nothing.
  body.resize_and_overwrite(length, [&](char* data, std::size_t) -> std::size_t {
    read = fill(data, length);
    return read ? length : 0;
  });
  if (!read) {
    return std::unexpected(FrameError{FrameError::Stage::body, std::move(read.error())});
  }
  return body;
}

}  // namespace

std::expected<std::string, FrameError> read_frame(int fd, std::uint32_t max_length) {
  return read_frame_with(
      [fd](void* buffer, std::size_t size) { return recv_exact(fd, buffer, size); }, max_length);
}

std::expected<std::string, FrameError> read_frame(int fd, std::uint32_t max_length,
                                                  Deadline deadline) {
  return read_frame_with(
      [fd, deadline](void* buffer, std::size_t size) {
        return recv_exact(fd, buffer, size, deadline);
      },
      max_length);
}

}  // namespace zelko_ipc
