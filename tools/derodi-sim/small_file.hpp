// SPDX-License-Identifier: MIT
#pragma once

#include <fcntl.h>

#include <cstddef>
#include <expected>
#include <string>

namespace derodi_sim {

/// The file `path` (relative to the directory `directory`, or AT_FDCWD),
/// the sim's one way to read a file: a regular file only (a FIFO, a device
/// or a directory is never opened for reading long enough to wait), and
/// at most `limit` bytes of it; or why not.
[[nodiscard]] std::expected<std::string, std::string> read_regular_file(int directory,
                                                                        const std::string& path,
                                                                        std::size_t limit);

/// At most `limit` bytes from the start of the file `path`, as
/// read_regular_file gives them; empty when it cannot be read.
[[nodiscard]] std::string read_small_file(int directory, const std::string& path,
                                          std::size_t limit = 4096);

/// The first line of what read_small_file gives, without its newline.
[[nodiscard]] std::string first_line(int directory, const std::string& path);

}  // namespace derodi_sim
