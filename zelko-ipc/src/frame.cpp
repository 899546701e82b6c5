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

}  // namespace zelko_ipc
