// SPDX-License-Identifier: MIT
#include "ask.hpp"
#include "commands.hpp"
#include "setup.hpp"

namespace zelko_cli {

Outcome status(Console& console) {
  auto answer = ask<zelko_ipc::ControlResponse::Status>({zelko_ipc::ControlRequest::Status{}});
  if (!answer) {
    return std::unexpected(std::move(answer.error()));
  }
  Sink& out = console.out;
  out.text("agent endpoint  ").field(answer->endpoint()).text("\n");
  for (const std::string& line : setup::environment_lines(answer->endpoint())) {
    out.field(line).text("\n");
  }
  if (!answer->pageant().empty()) {
    out.text("pageant         ").field(answer->pageant()).text("\n");
  }
  out.text("phone           ").field(answer->phone()).text("\n");
  out.text("metadata        ").field(answer->metadata()).text("\n");
  out.text("window          ");
  if (answer->window().empty()) {
    out.text("none active");
  } else {
    out.field(answer->window());
  }
  out.text("\n");
  return {};
}

}  // namespace zelko_cli
