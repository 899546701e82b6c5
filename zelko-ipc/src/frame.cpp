// SPDX-License-Identifier: MIT
#include "zelko/ipc/frame.hpp"

#include "zelko/ipc/io.hpp"

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

std::expected<std::string, FrameError> read_frame(int fd, std::uint32_t max_length) {
  unsigned char header[4];
  if (auto read = recv_exact(fd, header, sizeof header); !read) {
    return std::unexpected(FrameError{FrameError::Stage::header, std::move(read.error())});
  }
  const std::uint32_t length = frame_length(header);
  if (length > max_length) {
    return std::unexpected(FrameError{FrameError::Stage::too_long, {}});
  }
  std::string body(length, '\0');
  if (auto read = recv_exact(fd, body.data(), length); !read) {
    return std::unexpected(FrameError{FrameError::Stage::body, std::move(read.error())});
  }
  return body;
}

}  // namespace zelko_ipc
