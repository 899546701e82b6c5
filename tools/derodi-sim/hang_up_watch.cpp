// SPDX-License-Identifier: MIT
#include "hang_up_watch.hpp"

#include <poll.h>

#include <algorithm>
#include <cerrno>

namespace derodi_sim {

bool HangUpWatch::stays_for(std::chrono::milliseconds time) const {
  const auto deadline = std::chrono::steady_clock::now() + time;
  while (true) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    // Only a hang-up is looked for (it comes unasked): anything the client
    // sends meanwhile is for whoever reads next, and a client that has only
    // shut its sending side still waits for its answer.
    pollfd watched[2] = {{m_connection, 0, 0}, {m_stop.fd(), POLLIN, 0}};
    const int ready = ::poll(watched, 2, static_cast<int>(std::max<long>(left.count(), 0)));
    if (ready > 0) {
      return false;
    }
    if (ready == 0) {
      return true;
    }
    if (errno != EINTR) {
      return false;
    }
  }
}

}  // namespace derodi_sim
