// SPDX-License-Identifier: MIT
#include <limits>

#include "ask.hpp"
#include "commands.hpp"
#include "zelko/ipc/decimal.hpp"

namespace zelko_cli {

namespace {

constexpr std::string_view k_trusted_destinations =
    "\n\nA window can only cover destinations you have confirmed deliberately (spec §23), "
    "which is why approving a signature is not enough on its own.";

}  // namespace

Outcome authorize(Console& console, std::span<const std::string_view> arguments) {
  if (arguments.size() != 2 || arguments[0] != "--minutes") {
    return std::unexpected(Message("usage: zelko-cli authorize --minutes N"));
  }
  const auto minutes =
      zelko_ipc::parse_unsigned_decimal(arguments[1], std::numeric_limits<std::uint32_t>::max());
  if (!minutes) {
    return std::unexpected(Message().quoted(arguments[1]).own(" is not a number of minutes"));
  }
  if (*minutes == 0) {
    return std::unexpected(Message("a window of zero minutes would authorize nothing"));
  }
  console.progress("asking the phone; choose the scope there...\n");
  auto answer = ask<zelko_ipc::ControlResponse::Authorized>(
      {zelko_ipc::ControlRequest::Authorize{static_cast<std::uint32_t>(*minutes)}});
  if (!answer) {
    Message message = std::move(answer.error());
    if (message.contains("trusted destination")) {
      message.own(k_trusted_destinations);
    }
    return std::unexpected(std::move(message));
  }
  console.out.text("authorized: ").field(answer->scope).text("\n");
  return {};
}

}  // namespace zelko_cli
