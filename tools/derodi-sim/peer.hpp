// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace derodi_sim {

/// The program at the other end of a Unix socket connection, as the phone
/// names it, from what the system says of it.
struct Peer {
  pid_t pid = 0;
  /// "'ssh' ('/usr/bin/ssh', pid 4242), from 'bash' ('/usr/bin/bash')":
  /// each process by the name it gave itself and the executable it runs,
  /// "really" before the executable when the two differ; every name quoted
  /// as foreign text. "an unknown program" when the system does not tell.
  std::string description;
  /// Its command line, word by word (at most 64 KiB of it).
  std::vector<std::string> arguments;
};

[[nodiscard]] Peer describe_peer(int connection);

}  // namespace derodi_sim
