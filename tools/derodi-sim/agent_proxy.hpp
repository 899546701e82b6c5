// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <vector>

#include "phone.hpp"

namespace derodi_sim {

/// Where the endpoint's messages go, and where hosts are looked up.
struct AgentRoute {
  std::string agent_socket;
  std::vector<std::string> known_hosts_files;
  Log& log;  // told of a known_hosts file that cannot be read
};

/// Serves one connection to the agent endpoint: messages go on to the real
/// agent, a signature request only once the phone approves it.
void serve_agent(int connection, const AgentRoute& route, Phone& phone, const Stop& stop);

}  // namespace derodi_sim
