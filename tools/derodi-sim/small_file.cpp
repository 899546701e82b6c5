// SPDX-License-Identifier: MIT
#include "small_file.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "zelko/ipc/fd.hpp"

namespace derodi_sim {

std::string read_small_file(int directory, const std::string& path, std::size_t limit) {
  const zelko_ipc::Fd fd(::openat(directory, path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC));
  std::string content;
  if (!fd) {
    return content;
  }
  content.resize(limit);
  std::size_t have = 0;
  while (have < limit) {
    const ssize_t got = ::read(fd.get(), content.data() + have, limit - have);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      break;
    }
    have += static_cast<std::size_t>(got);
  }
  content.resize(have);
  return content;
}

std::string first_line(int directory, const std::string& path) {
  std::string content = read_small_file(directory, path, 64 * 1024);
  content.resize(std::min(content.size(), content.find('\n')));
  return content;
}

}  // namespace derodi_sim
