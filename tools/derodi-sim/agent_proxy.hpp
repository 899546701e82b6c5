// SPDX-License-Identifier: MIT
#pragma once

#include <string>

#include "phone.hpp"

namespace derodi_sim {

/// Serves one connection to the agent endpoint: every message goes on to
/// the real agent at `agent_socket` and its reply comes back, but a
/// signature request goes only once the phone approves it, and is answered
/// with a failure when it refuses.
void serve_agent(int connection, const std::string& agent_socket, Phone& phone);

}  // namespace derodi_sim
