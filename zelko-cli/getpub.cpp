// SPDX-License-Identifier: MIT
#include "ask.hpp"
#include "commands.hpp"
#include "output_file.hpp"

namespace zelko_cli {

namespace {

constexpr std::string_view k_refresh_hint =
    "\n\nConnect your Zelko phone to refresh the key database.";

}  // namespace

Outcome getpub(Console& console, std::string_view name, std::optional<std::string_view> file) {
  auto answer = ask<zelko_ipc::ControlResponse::PublicKey>(
      {zelko_ipc::ControlRequest::GetPub{std::string(name)}});
  if (!answer) {
    Message message = std::move(answer.error());
    if (message.contains("STALE") || message.contains("never synchronised")) {
      message.own(k_refresh_hint);
    }
    return std::unexpected(std::move(message));
  }
  if (file) {
    return write_line_to(*file, std::move(answer->text));
  }
  console.out.field(answer->text).text("\n");
  return {};
}

}  // namespace zelko_cli
