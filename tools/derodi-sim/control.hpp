// SPDX-License-Identifier: MIT
#pragma once

#include "phone.hpp"

namespace derodi_sim {

/// Serves one connection to the control socket: one request, one answer.
void serve_control(int connection, Phone& phone, const Stop& stop);

}  // namespace derodi_sim
