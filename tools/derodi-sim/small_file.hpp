// SPDX-License-Identifier: MIT
#pragma once

#include <fcntl.h>

#include <cstddef>
#include <string>

namespace derodi_sim {

/// At most `limit` bytes from the start of the file `path` (relative to
/// the directory `directory`, or AT_FDCWD); empty when it cannot be read.
[[nodiscard]] std::string read_small_file(int directory, const std::string& path,
                                          std::size_t limit = 4096);

/// The first line of what read_small_file gives, without its newline.
[[nodiscard]] std::string first_line(int directory, const std::string& path);

}  // namespace derodi_sim
