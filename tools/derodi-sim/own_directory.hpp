// SPDX-License-Identifier: MIT
#pragma once

#include <expected>
#include <string>

namespace derodi_sim {

/// Checks, as ssh-agent and gpg-agent check theirs, that the directory at
/// `path` is one the sim can trust: a directory, not a symbolic link, owned
/// by the sim's user and writable by nobody else. A missing one passes
/// (make_own_directory makes it). On failure, one line naming the path and
/// what is wrong with it.
[[nodiscard]] std::expected<void, std::string> check_own_directory(const std::string& path);

/// Makes the directory at `path` with mode 0700 when it is missing, then
/// checks it as check_own_directory does.
[[nodiscard]] std::expected<void, std::string> make_own_directory(const std::string& path);

}  // namespace derodi_sim
