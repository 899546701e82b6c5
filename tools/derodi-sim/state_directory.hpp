// SPDX-License-Identifier: MIT
#pragma once

#include <expected>
#include <optional>
#include <string>

#include "options.hpp"
#include "trusted_directory.hpp"

namespace derodi_sim {

/// Where the phone's key files live: a trusted directory that one sim
/// holds at a time, removed when the sim ends if it is the sim's own
/// default one and is not to be kept.
class StateDirectory {
 public:
  /// Makes and takes the state directory `options` name, `found` already
  /// when it is not the default one, which is made in `runtime` (the sim's
  /// zelko directory). Fails when another sim holds it.
  [[nodiscard]] static std::expected<StateDirectory, std::string> take(
      std::optional<TrustedDirectory> found, const Options& options,
      const TrustedDirectory& runtime);

  StateDirectory(StateDirectory&& other) noexcept = default;
  StateDirectory(const StateDirectory&) = delete;
  StateDirectory& operator=(const StateDirectory&) = delete;
  ~StateDirectory();

  [[nodiscard]] const TrustedDirectory& directory() const { return m_directory; }

 private:
  StateDirectory(TrustedDirectory directory, const TrustedDirectory* removed_from)
      : m_directory(std::move(directory)), m_removed_from(removed_from) {}

  TrustedDirectory m_directory;
  const TrustedDirectory* m_removed_from;  // the directory it is removed from at the end, if any
};

}  // namespace derodi_sim
