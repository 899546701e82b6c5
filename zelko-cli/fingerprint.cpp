#include "ask.hpp"
#include "commands.hpp"
#include "quote.hpp"

namespace zelko_cli {

Outcome fingerprint(Console& console, std::string_view name) {
  const auto answer = ask<zelko_ipc::ControlResponse::Keys>({zelko_ipc::ControlRequest::Keys{}});
  if (!answer) {
    return std::unexpected(answer.error());
  }
  // List order decides first; within one key the name is tried before the comment.
  for (const zelko_ipc::KeyRecord& key : answer->keys) {
    if (key.name == name || key.comment == name) {
      console.out.field(key.fingerprint).text(" ").field(key.name).text("\n");
      return {};
    }
  }
  return std::unexpected("no key named " + quoted(name));
}

}  // namespace zelko_cli
