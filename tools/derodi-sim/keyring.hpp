// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <string>
#include <vector>

namespace derodi_sim {

/// One key the simulated phone holds, as real OpenSSH key files.
struct Key {
  std::string name;
  std::string algorithm;    // the key type word of its public line, e.g. "ssh-ed25519"
  std::string fingerprint;  // "SHA256:..." as ssh-keygen computes it
  std::string comment;
  std::string public_line;  // the authorized_keys line, without its newline
  std::string private_path;
  std::string blob;  // the public key as the agent protocol carries it
};

/// The comment of the keys the phone makes for `name`.
[[nodiscard]] std::string phone_comment(const std::string& name);

/// Loads the key pair at `private_path`, having ssh-keygen make it first
/// when there is none (type "ed25519" or "rsa"; `bits` only for RSA).
[[nodiscard]] std::expected<Key, std::string> make_or_load_key(const std::string& private_path,
                                                               const std::string& type,
                                                               std::uint32_t bits,
                                                               const std::string& name);

/// Has ssh-keygen make a new key pair named `name` in `directory`, under
/// the first free file name "generated-N": no file is ever overwritten.
/// Gives up, ssh-keygen killed and nothing left, once `abandoned` says so.
[[nodiscard]] std::expected<Key, std::string> make_new_key(const std::string& directory,
                                                           const std::string& type,
                                                           std::uint32_t bits,
                                                           const std::string& name,
                                                           const std::function<bool()>& abandoned);

/// The keys make_new_key made in `directory`, in the order it made them.
[[nodiscard]] std::expected<std::vector<Key>, std::string> load_made_keys(
    const std::string& directory);

/// Removes a key's two files.
void remove_key_files(const Key& key);

}  // namespace derodi_sim
