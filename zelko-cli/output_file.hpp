// SPDX-License-Identifier: MIT
#pragma once

#include <string_view>

#include "commands.hpp"

namespace zelko_cli {

/// Writes `text` and a newline to `file` without ever leaving a part of it
/// there: a regular file (a new one, or the target of a symbolic link) is
/// replaced at once by a complete copy written beside it, keeping its
/// permission bits and owner; anything else (a terminal, a pipe,
/// /dev/stdout) is written directly, and so is a file whose directory will
/// not take a new one. On failure the file is as it was, and the message is
/// "cannot write {file}: {error}".
[[nodiscard]] Outcome write_line_to(std::string_view file, std::string_view text);

}  // namespace zelko_cli
