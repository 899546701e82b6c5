// SPDX-License-Identifier: MIT
#pragma once

#include "phone.hpp"

namespace derodi_sim {

/// Serves one connection to the control socket: one request, read within a
/// few seconds of the connection, and one answer. Nothing a client sends
/// can do more than get an error answer or a closed connection.
void serve_control(int connection, Phone& phone, const Stop& stop);

}  // namespace derodi_sim
