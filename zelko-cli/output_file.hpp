// SPDX-License-Identifier: MIT
#pragma once

#include <string_view>

#include "commands.hpp"

namespace zelko_cli {

/// Writes `text` and a newline to `file`, opened as a shell's ">" opens it
/// (created with mode 0666 less the umask, through every check the kernel
/// makes), into that same file: a regular file keeps its inode, owner,
/// mode, links and attributes, and loses its old line only once the new
/// one has room; anything else (a terminal, a pipe, /dev/fd/N) is written
/// as a stream. The message of a failure is "cannot write {file}: {error}".
[[nodiscard]] Outcome write_line_to(std::string_view file, std::string_view text);

}  // namespace zelko_cli
