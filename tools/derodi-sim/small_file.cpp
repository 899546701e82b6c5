// SPDX-License-Identifier: MIT
#include "small_file.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "zelko/ipc/fd.hpp"
#include "zelko/ipc/os_error.hpp"

namespace derodi_sim {

std::expected<std::string, std::string> read_regular_file(int directory, const std::string& path,
                                                          std::size_t limit) {
  // Without blocking: the open of a FIFO would wait for a writer.
  const zelko_ipc::Fd fd(
      ::openat(directory, path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  struct stat info {};
  if (!fd || ::fstat(fd.get(), &info) != 0) {
    return std::unexpected(zelko_ipc::describe_os_error(errno));
  }
  if (!S_ISREG(info.st_mode)) {
    return std::unexpected(std::string("it is not a regular file"));
  }
  std::string content(limit, '\0');
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

std::string read_small_file(int directory, const std::string& path, std::size_t limit) {
  return read_regular_file(directory, path, limit).value_or("");
}

std::string first_line(int directory, const std::string& path) {
  std::string content = read_small_file(directory, path, 64 * 1024);
  content.resize(std::min(content.size(), content.find('\n')));
  return content;
}

}  // namespace derodi_sim
