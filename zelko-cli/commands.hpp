// SPDX-License-Identifier: MIT
#pragma once

// The command handlers. Each checks its arguments, makes at most one exchange
// with the daemon, writes its report to the console and returns its outcome;
// none prints its own failure.

#include <expected>
#include <optional>
#include <span>
#include <string_view>

#include "console.hpp"
#include "zelko/ipc/message.hpp"

namespace zelko_cli {

using zelko_ipc::Message;

/// Success, or the message `main` prints after "zelko-cli: ".
using Outcome = std::expected<void, Message>;

[[nodiscard]] Outcome status(Console& console);
[[nodiscard]] Outcome keys(Console& console, bool long_listing, bool json);
[[nodiscard]] Outcome getpub(Console& console, std::string_view name,
                             std::optional<std::string_view> file);
[[nodiscard]] Outcome fingerprint(Console& console, std::string_view name);
[[nodiscard]] Outcome devices(Console& console);
[[nodiscard]] Outcome authorize(Console& console, std::span<const std::string_view> arguments);
[[nodiscard]] Outcome generate(Console& console, std::span<const std::string_view> arguments);

}  // namespace zelko_cli
