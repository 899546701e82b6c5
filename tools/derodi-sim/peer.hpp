// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace derodi_sim {

/// The program at the other end of the Unix socket `connection`, as the
/// phone names it: "ssh-keygen (pid 4242, from git)", its name and its
/// parent's from /proc, shown safely; "an unknown program" when the system
/// does not tell.
[[nodiscard]] std::string describe_peer(int connection);

}  // namespace derodi_sim
