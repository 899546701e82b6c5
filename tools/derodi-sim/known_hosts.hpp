// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace derodi_sim {

/// Where a host key is written in a known_hosts file.
struct KnownHost {
  std::string names;  // as the entry writes them, or the name a hashed entry matched
  std::string file;   // the file's own name, "known_hosts" or "ssh_known_hosts"
  std::size_t line = 0;
  bool revoked = false;  // an @revoked line: the key must not be trusted
};

/// The most of a known_hosts file that is read; a larger one is left out.
inline constexpr std::size_t k_known_hosts_limit = 4 * 1024 * 1024;

/// The known_hosts files OpenSSH reads for the user (whose home is $HOME,
/// or else the password database's).
[[nodiscard]] std::vector<std::string> default_known_hosts_files();

/// The names an ssh command line (the program first) may have looked its
/// destination up by: the host, "[host]:port" for a port other than 22,
/// and a HostKeyAlias. Another program's gives none.
[[nodiscard]] std::vector<std::string> host_names_on_command_line(
    std::span<const std::string> arguments);

/// What `files` say of the host key `host_key` (its blob): an @revoked
/// line for it, wherever it stands; else its first entry, whose names a
/// hashed entry gives only as the name of `candidates` that hashes to it.
/// A file that cannot be read (a regular file within k_known_hosts_limit)
/// is left out, and `unread` told why.
[[nodiscard]] std::optional<KnownHost> find_known_host(std::string_view host_key,
                                                       std::span<const std::string> candidates,
                                                       std::span<const std::string> files,
                                                       std::vector<std::string>& unread);

/// The host keys `files` hold for the host `name`, none revoked.
[[nodiscard]] std::vector<std::string> host_keys_of(std::string_view name,
                                                    std::span<const std::string> files,
                                                    std::vector<std::string>& unread);

}  // namespace derodi_sim
