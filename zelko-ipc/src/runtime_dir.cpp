// SPDX-License-Identifier: MIT
#include "zelko/ipc/runtime_dir.hpp"

#include <cstdlib>

namespace zelko_ipc::runtime_dir {

std::expected<std::string, std::string_view> control_socket_path_in(const char* runtime_dir) {
  if (runtime_dir == nullptr || *runtime_dir == '\0') {
    return std::unexpected(k_not_set);
  }
  std::string path = runtime_dir;
  if (!path.ends_with('/')) {
    path.push_back('/');
  }
  path += "zelko/control.sock";
  return path;
}

std::expected<std::string, std::string_view> control_socket_path() {
  return control_socket_path_in(std::getenv("XDG_RUNTIME_DIR"));
}

}  // namespace zelko_ipc::runtime_dir
