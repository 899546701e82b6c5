// SPDX-License-Identifier: MIT
#pragma once

#include <expected>
#include <string>

#include "options.hpp"

namespace derodi_sim {

/// Runs the sim as `options` say until a stop signal, or until its agent
/// dies; why it could not start or had to stop, as one line.
[[nodiscard]] std::expected<void, std::string> simulate(const Options& options);

}  // namespace derodi_sim
