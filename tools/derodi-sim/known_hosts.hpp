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

/// The known_hosts files OpenSSH reads by default for the user whose home
/// is `home`: ~/.ssh/known_hosts, then /etc/ssh/ssh_known_hosts.
[[nodiscard]] std::vector<std::string> default_known_hosts_files(const std::string& home);

/// The names an ssh command line (`arguments`, the program first; any
/// other program's gives none) may have looked its destination up by: the destination without its
/// user, with its port ("[host]:port") when that is not 22, and a HostKeyAlias.
[[nodiscard]] std::vector<std::string> host_names_on_command_line(
    std::span<const std::string> arguments);

/// What `files` say of the host key `host_key` (its blob), as ssh reads
/// them: an @revoked line for it, wherever it stands; else the first entry
/// for it: a plain entry gives its names; a hashed one (|1|salt|hash)
/// matches only a name of `candidates` that hashes to it. @cert-authority
/// lines hold no host key. Nothing when no line is the key's. A file that
/// is there but cannot be read as a regular file of at most
/// k_known_hosts_limit bytes is left out, and `unread` told why.
[[nodiscard]] std::optional<KnownHost> find_known_host(std::string_view host_key,
                                                       std::span<const std::string> candidates,
                                                       std::span<const std::string> files,
                                                       std::vector<std::string>& unread);

/// The host keys `files` hold for the host `name`: those of plain entries
/// that list it and of hashed ones it hashes to, but none that an @revoked
/// line revokes.
[[nodiscard]] std::vector<std::string> host_keys_of(std::string_view name,
                                                    std::span<const std::string> files,
                                                    std::vector<std::string>& unread);

}  // namespace derodi_sim
