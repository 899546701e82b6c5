// SPDX-License-Identifier: MIT
// known_hosts as OpenSSH writes it: "[@marker] names keytype base64 [comment]",
// names either a comma-separated list or "|1|" base64(salt) "|" base64(HMAC-SHA1).

#include "known_hosts.hpp"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

#include "agent_messages.hpp"
#include "small_file.hpp"
#include "text.hpp"

namespace derodi_sim {

namespace {

bool hashes_to(std::string_view hashed, std::string_view name) {
  // "|1|SALT|HASH"
  const std::size_t bar = hashed.find('|', 3);
  if (bar == std::string_view::npos) {
    return false;
  }
  const auto salt = base64_decoded(hashed.substr(3, bar - 3));
  const auto hash = base64_decoded(hashed.substr(bar + 1));
  if (!salt || !hash) {
    return false;
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (HMAC(EVP_sha1(), salt->data(), static_cast<int>(salt->size()),
           reinterpret_cast<const unsigned char*>(name.data()), name.size(), digest,
           &size) == nullptr) {
    return false;
  }
  return std::string_view(reinterpret_cast<const char*>(digest), size) == *hash;
}

// The entry `line` makes for the key `host_key`, when it is the key's.
std::optional<KnownHost> entry_for(std::string_view line, std::string_view host_key,
                                   std::span<const std::string> candidates) {
  std::size_t at = 0;
  std::string_view names = next_word(line, at);
  const bool revoked = names == "@revoked";
  if (revoked) {
    names = next_word(line, at);
  }
  if (names.empty() || names.front() == '#' || names.front() == '@') {
    return std::nullopt;  // a comment, or a certificate authority
  }
  next_word(line, at);  // the key type, which the blob names too
  const auto blob = base64_decoded(next_word(line, at));
  if (!blob || *blob != host_key) {
    return std::nullopt;
  }
  if (revoked || !names.starts_with("|1|")) {
    return KnownHost{std::string(names), {}, 0, revoked};
  }
  for (const std::string& candidate : candidates) {
    if (hashes_to(names, candidate)) {
      return KnownHost{candidate, {}, 0, false};
    }
  }
  return std::nullopt;
}

// The value of "-o NAME=value" for `name` (which ends with "="), in any case.
std::optional<std::string> option_value(std::string_view option, std::string_view name) {
  const bool named = option.size() > name.size() &&
                     std::equal(name.begin(), name.end(), option.begin(), [](char a, char b) {
                       return std::tolower(static_cast<unsigned char>(a)) ==
                              std::tolower(static_cast<unsigned char>(b));
                     });
  return named ? std::optional<std::string>(option.substr(name.size())) : std::nullopt;
}

}  // namespace

std::vector<std::string> default_known_hosts_files(const std::string& home) {
  std::vector<std::string> files;
  if (!home.empty()) {
    files.push_back(home + "/.ssh/known_hosts");
  }
  files.emplace_back("/etc/ssh/ssh_known_hosts");
  return files;
}

std::vector<std::string> host_names_on_command_line(std::span<const std::string> arguments) {
  // ssh's options that take a value.
  constexpr std::string_view with_value = "BbcDEeFIiJLlmOoPpQRSWw";
  std::string destination;
  std::string port;
  std::vector<std::string> names;
  if (arguments.empty() || arguments[0].substr(arguments[0].rfind('/') + 1) != "ssh") {
    return names;
  }
  for (std::size_t i = 1; i < arguments.size() && destination.empty(); ++i) {
    const std::string& word = arguments[i];
    if (word.size() < 2 || word.front() != '-') {
      destination = word;
      break;
    }
    for (std::size_t j = 1; j < word.size(); ++j) {
      if (with_value.find(word[j]) == std::string_view::npos) {
        continue;
      }
      std::string value = j + 1 < word.size()        ? word.substr(j + 1)
                          : i + 1 < arguments.size() ? arguments[++i]
                                                     : std::string();
      if (word[j] == 'p') {
        port = value;
      } else if (word[j] == 'o') {
        if (const auto alias = option_value(value, "HostKeyAlias=")) {
          names.push_back(*alias);
        } else if (const auto given = option_value(value, "Port=")) {
          port = *given;
        }
      }
      break;
    }
  }
  if (destination.starts_with("ssh://")) {
    destination.erase(0, 6);
    if (const std::size_t colon = destination.rfind(':');
        colon != std::string::npos && destination.find(']') == std::string::npos) {
      port = destination.substr(colon + 1);
      destination.erase(colon);
    }
  }
  destination.erase(0, destination.rfind('@') + 1);
  if (!destination.empty()) {
    names.push_back(destination);
    if (!port.empty() && port != "22") {
      names.push_back(concat("[", destination, "]:", port));
    }
  }
  return names;
}

std::optional<KnownHost> find_known_host(std::string_view host_key,
                                         std::span<const std::string> candidates,
                                         std::span<const std::string> files,
                                         std::vector<std::string>& unread) {
  std::optional<KnownHost> found;
  for (const std::string& file : files) {
    if (::access(file.c_str(), F_OK) != 0) {
      continue;  // a user without one
    }
    auto text = read_regular_file(AT_FDCWD, file, k_known_hosts_limit + 1);
    if (text && text->size() > k_known_hosts_limit) {
      text = std::unexpected(std::string("it is larger than 4 MiB"));
    }
    if (!text) {
      unread.push_back(concat("derodi-sim: left out ", foreign(file), ": ", text.error()));
      continue;
    }
    std::size_t number = 0;
    for (std::size_t at = 0; at < text->size();) {
      const std::size_t end = std::min(text->find('\n', at), text->size());
      std::string_view line = std::string_view(*text).substr(at, end - at);
      at = end + 1;
      ++number;
      if (line.ends_with('\r')) {
        line.remove_suffix(1);
      }
      auto entry = entry_for(line, host_key, candidates);
      if (!entry) {
        continue;
      }
      entry->file = file.substr(file.rfind('/') + 1);
      entry->line = number;
      if (entry->revoked) {
        return entry;
      }
      if (!found) {
        found = std::move(entry);
      }
    }
  }
  return found;
}

}  // namespace derodi_sim
