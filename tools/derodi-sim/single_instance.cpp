// SPDX-License-Identifier: MIT
#include "single_instance.hpp"

#include "zelko/ipc/unix_socket.hpp"

namespace derodi_sim {

std::expected<void, std::string> claim(const TrustedDirectory& runtime,
                                       const std::string& control_path) {
  if (!runtime.lock() || zelko_ipc::connect_unix(runtime.through_fd("control.sock"))) {
    return std::unexpected("a daemon already answers on " + control_path);
  }
  return {};
}

}  // namespace derodi_sim
