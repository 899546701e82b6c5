// SPDX-License-Identifier: MIT
#include "ask.hpp"
#include "commands.hpp"

namespace zelko_cli {

namespace {

using zelko_ipc::KeyRecord;

void print_plain(Sink& out, const KeyRecord& key) {
  out.field(key.name).text("\t").field(key.algorithm).text("\n");
}

void print_long(Sink& out, const KeyRecord& key) {
  out.field(key.name).text("\t").field(key.algorithm).text("\t").field(key.fingerprint);
  out.text("\t").field(key.state).text("\n");
}

void print_json(Sink& out, const zelko_ipc::ControlResponse::Keys& keys) {
  out.text("[");
  bool first = true;
  keys.for_each([&](const KeyRecord& key) {
    if (!first) {
      out.text(",");
    }
    out.text("\n  {\n    \"name\": ").json(key.name);
    out.text(",\n    \"algorithm\": ").json(key.algorithm);
    out.text(",\n    \"fingerprint\": ").json(key.fingerprint);
    out.text(",\n    \"comment\": ").json(key.comment);
    out.text(",\n    \"state\": ").json(key.state).text("\n  }");
    first = false;
  });
  out.text("\n]\n");
}

}  // namespace

Outcome keys(Console& console, bool long_listing, bool json) {
  auto answer = ask<zelko_ipc::ControlResponse::Keys>({zelko_ipc::ControlRequest::Keys{}});
  if (!answer) {
    return std::unexpected(std::move(answer.error()));
  }
  Sink& out = console.out;
  if (json) {
    print_json(out, *answer);
  } else if (answer->empty()) {
    out.text("no keys\n");
  } else if (long_listing) {
    answer->for_each([&](const KeyRecord& key) { print_long(out, key); });
  } else {
    answer->for_each([&](const KeyRecord& key) { print_plain(out, key); });
  }
  return {};
}

}  // namespace zelko_cli
