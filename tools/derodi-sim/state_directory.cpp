// SPDX-License-Identifier: MIT
#include "state_directory.hpp"

#include <sys/file.h>

#include "text.hpp"

namespace derodi_sim {

namespace {

constexpr std::string_view k_default_name = "sim-state";

}  // namespace

std::expected<StateDirectory, std::string> StateDirectory::take(const Options& options,
                                                                const TrustedDirectory& runtime) {
  auto directory = TrustedDirectory::open(options.state_dir);
  if (!directory) {
    return std::unexpected(directory.error());
  }
  // Two sims starting on one new state directory would both make its keys.
  if (::flock(directory->fd(), LOCK_EX | LOCK_NB) != 0) {
    return std::unexpected(
        concat("another derodi-sim holds the state directory ", options.state_dir));
  }
  const bool removed = options.state_dir_is_default && !options.keep_state;
  return StateDirectory(std::move(*directory), removed ? &runtime : nullptr);
}

StateDirectory::~StateDirectory() {
  if (m_removed_from != nullptr && m_directory.fd() >= 0) {
    remove_directory(m_removed_from->fd(), std::string(k_default_name));
  }
}

}  // namespace derodi_sim
