// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <vector>

#include "phone.hpp"

namespace derodi_sim {

/// Where the endpoint's messages go, and where the hosts they are bound to
/// are looked up by their keys.
struct AgentRoute {
  std::string agent_socket;
  std::vector<std::string> known_hosts_files;
  Log& log;  // told of a known_hosts file that cannot be read
};

/// Serves one connection to the agent endpoint: every message goes on to
/// the real agent and its reply comes back, but a signature request goes
/// only once the phone approves it, and is answered with a failure when it
/// refuses.
void serve_agent(int connection, const AgentRoute& route, Phone& phone, const Stop& stop);

}  // namespace derodi_sim
