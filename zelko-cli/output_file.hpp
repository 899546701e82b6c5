// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

#include "commands.hpp"

namespace zelko_cli {

/// Writes `text` and a newline to `file` as a shell's ">" does: opened
/// with create-or-truncate (mode 0666 less the umask, every check the
/// kernel makes there), written, closed. A terminal gets the text shown
/// safely, as standard output does. The message of a failure is
/// "cannot write {file}: {error}"; a write that fails part way may leave
/// the file empty or partial.
[[nodiscard]] Outcome write_line_to(std::string_view file, std::string text);

}  // namespace zelko_cli
