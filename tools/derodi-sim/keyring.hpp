// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <vector>

#include "stop_signals.hpp"
#include "trusted_directory.hpp"

namespace derodi_sim {

/// One key the simulated phone holds, as real OpenSSH key files.
struct Key {
  std::string name;
  std::string algorithm;    // the key type word of its public line, e.g. "ssh-ed25519"
  std::string fingerprint;  // "SHA256:..." as ssh-keygen computes it
  std::string comment;
  std::string public_line;  // the authorized_keys line, without its newline
  std::string file;         // its private half, in the state directory
  std::string blob;         // the public key as the agent protocol carries it
};

/// The comment of the keys the phone makes for `name`.
[[nodiscard]] std::string phone_comment(const std::string& name);

/// The keys the phone holds in `directory`: two ed25519 keys and one RSA
/// key (made when missing), then those make_new_key made, in order. A made
/// key whose name is refused or taken is left out with a line in `skipped`.
struct PhoneKeys {
  std::vector<Key> keys;
  std::vector<std::string> skipped;
};
[[nodiscard]] std::expected<PhoneKeys, std::string> load_phone_keys(
    const TrustedDirectory& directory, const Stop& stop);

/// Has ssh-keygen make a key named `name` in `directory` as the first free
/// "generated-N", overwriting nothing; leaves nothing once the sim stops
/// or the client leaves.
[[nodiscard]] std::expected<Key, std::string> make_new_key(const TrustedDirectory& directory,
                                                           const std::string& type,
                                                           std::uint32_t bits,
                                                           const std::string& name,
                                                           const HangUpWatch& client);

/// Removes the two files of the key whose private half is `file`.
void remove_key_files(const TrustedDirectory& directory, const std::string& file);

}  // namespace derodi_sim
