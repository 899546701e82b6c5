// SPDX-License-Identifier: MIT
#include "ask.hpp"
#include "commands.hpp"

namespace zelko_cli {

Outcome fingerprint(Console& console, std::string_view name) {
  auto answer = ask<zelko_ipc::ControlResponse::Keys>({zelko_ipc::ControlRequest::Keys{}});
  if (!answer) {
    return std::unexpected(std::move(answer.error()));
  }
  // List order decides first; within one key the name is tried before the comment.
  bool found = false;
  answer->for_each([&](const zelko_ipc::KeyRecord& key) {
    found = key.name == name || key.comment == name;
    if (found) {
      console.out.field(key.fingerprint).text(" ").field(key.name).text("\n");
    }
    return found;
  });
  if (!found) {
    return std::unexpected(Message("no key named ").quoted(name));
  }
  return {};
}

}  // namespace zelko_cli
