// SPDX-License-Identifier: MIT
#include "client.hpp"

#include <poll.h>

#include <cerrno>

namespace derodi_sim {

bool Client::stays_for(std::chrono::milliseconds time) const {
  const auto deadline = std::chrono::steady_clock::now() + time;
  while (true) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    // Only a hang-up is looked for (it comes unasked): anything the client
    // sends meanwhile is for whoever reads next, and a client that has only
    // shut its sending side still waits for its answer.
    pollfd watched{m_fd, 0, 0};
    const int ready = ::poll(&watched, 1, static_cast<int>(std::max<long>(left.count(), 0)));
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
