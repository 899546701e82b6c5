// SPDX-License-Identifier: MIT
#pragma once

#include <expected>
#include <string>

#include "trusted_directory.hpp"

namespace derodi_sim {

/// One sim per runtime directory, even when two start at the same instant:
/// each takes a lock on `runtime` (its zelko directory, held as long as
/// the directory is open) first, and the one that cannot, like one that
/// finds a daemon answering on `control_path`, touches nothing.
[[nodiscard]] std::expected<void, std::string> claim(const TrustedDirectory& runtime,
                                                     const std::string& control_path);

}  // namespace derodi_sim
