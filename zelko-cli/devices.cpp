// SPDX-License-Identifier: MIT
#include "ask.hpp"
#include "commands.hpp"

namespace zelko_cli {

Outcome devices(Console& console) {
  auto answer = ask<zelko_ipc::ControlResponse::Devices>({zelko_ipc::ControlRequest::Devices{}});
  if (!answer) {
    return std::unexpected(std::move(answer.error()));
  }
  Sink& out = console.out;
  if (answer->empty()) {
    out.text("no paired devices; run 'derodi pair'\n");
    return {};
  }
  answer->for_each([&](const zelko_ipc::DeviceRecord& device) {
    out.field(device.name).text("\t").field(device.detail).text("\t");
    out.text(device.revoked ? "revoked\n" : "active\n");
  });
  return {};
}

}  // namespace zelko_cli
