// SPDX-License-Identifier: MIT
#include "state_directory.hpp"

#include "text.hpp"

namespace derodi_sim {

namespace {

constexpr std::string_view k_default_name = "sim-state";

}  // namespace

std::expected<StateDirectory, std::string> StateDirectory::take(
    std::optional<TrustedDirectory> found, const Options& options,
    const TrustedDirectory& runtime) {
  auto directory = found ? std::expected<TrustedDirectory, std::string>(std::move(*found))
                         : TrustedDirectory::find(options.state_dir);
  if (!directory) {
    return std::unexpected(directory.error());
  }
  if (auto made = directory->make(); !made) {
    return std::unexpected(made.error());
  }
  // Two sims starting on one new state directory would both make its keys.
  if (!directory->lock()) {
    return std::unexpected(
        concat("another derodi-sim holds the state directory ", options.state_dir));
  }
  const bool removed = options.state_dir_is_default && !options.keep_state;
  return StateDirectory(std::move(*directory), removed ? &runtime : nullptr);
}

StateDirectory::~StateDirectory() {
  if (m_removed_from != nullptr && m_directory.fd() >= 0) {
    m_removed_from->remove(k_default_name);
  }
}

}  // namespace derodi_sim
