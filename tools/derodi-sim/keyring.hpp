// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <string>

namespace derodi_sim {

/// One key the simulated phone holds, as real OpenSSH key files.
struct Key {
  std::string name;
  std::string algorithm;    // the key type word of its public line, e.g. "ssh-ed25519"
  std::string fingerprint;  // "SHA256:..." as ssh-keygen computes it
  std::string comment;
  std::string public_line;  // the authorized_keys line, without its newline
  std::string private_path;
};

/// Makes a new key pair at `private_path` with ssh-keygen (type "ed25519" or
/// "rsa"; `bits` only for RSA), or loads the pair already there. Gives up,
/// ssh-keygen killed, once `abandoned` says so.
[[nodiscard]] std::expected<Key, std::string> make_or_load_key(
    const std::string& private_path, const std::string& type, std::uint32_t bits,
    const std::string& name, const std::string& comment,
    const std::function<bool()>& abandoned = {});

}  // namespace derodi_sim
