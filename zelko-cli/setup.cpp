// SPDX-License-Identifier: MIT
#include "setup.hpp"

#include <cstdlib>

#include "zelko/ipc/client.hpp"
#include "zelko/ipc/utf8.hpp"
#include "zelko/ipc/white_space.hpp"

namespace zelko_cli::setup {

namespace {

constexpr std::string_view k_system = "Linux";
constexpr std::string_view k_agent_socket = "$XDG_RUNTIME_DIR/zelko/agent.sock";

Message advice() {
  return Message("setup is a Windows command; on ")
      .own(k_system)
      .own(" put\n    export SSH_AUTH_SOCK=\"")
      .own(k_agent_socket)
      .own("\"\nin your shell profile and start derodi from your session");
}

std::string verdict(std::string_view endpoint, const char* auth_sock) {
  const std::string_view value = auth_sock != nullptr ? auth_sock : "";
  const std::string_view trimmed = zelko_ipc::trim_white_space(value);
  // Unset, empty, white space only, or not UTF-8: no agent this shell can name.
  if (trimmed.empty() || !zelko_ipc::is_valid_utf8(value)) {
    return "no agent (SSH_AUTH_SOCK is not set)";
  }
  if (trimmed == endpoint) {
    return "Zelko";
  }
  std::string other = "not Zelko: SSH_AUTH_SOCK=";
  other += trimmed;
  return other;
}

}  // namespace

bool daemon_answers() {
  const auto answer = zelko_ipc::client::exchange({zelko_ipc::ControlRequest::Status{}});
  return answer && !std::holds_alternative<zelko_ipc::ControlResponse::Error>(answer->value);
}

Outcome run(std::span<const std::string_view> arguments, DaemonProbe /*probe*/) {
  if (arguments.empty() || (arguments.size() == 1 && arguments[0] == "--undo")) {
    return std::unexpected(advice());
  }
  return std::unexpected(
      Message("unknown flag ").quoted(arguments[0]).own("; usage: zelko-cli setup [--undo]"));
}

std::vector<std::string> environment_lines_for(std::string_view endpoint, const char* auth_sock) {
  return {"this shell      " + verdict(endpoint, auth_sock)};
}

std::vector<std::string> environment_lines(std::string_view endpoint) {
  return environment_lines_for(endpoint, std::getenv("SSH_AUTH_SOCK"));
}

}  // namespace zelko_cli::setup
