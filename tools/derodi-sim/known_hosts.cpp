// SPDX-License-Identifier: MIT
// known_hosts lines: "[@marker] names keytype base64 [comment]", the names
// a list ("a,b") or hashed ("|1|" base64(salt) "|" base64(HMAC-SHA1)).

#include "known_hosts.hpp"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <pwd.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "agent_messages.hpp"
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

// One line of a known_hosts file that holds a host key.
struct Entry {
  bool revoked;
  std::string_view names;
  std::string blob;
};

std::optional<Entry> entry_of(std::string_view line) {
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
  auto blob = base64_decoded(next_word(line, at));
  if (!blob) {
    return std::nullopt;
  }
  return Entry{revoked, names, std::move(*blob)};
}

// Whether an entry's `names`, listed or hashed, name `name`.
bool names_name(std::string_view names, std::string_view name) {
  if (names.starts_with("|1|")) {
    return hashes_to(names, name);
  }
  std::size_t at = 0;
  for (auto listed = next_word(names, at, ","); !listed.empty();
       listed = next_word(names, at, ",")) {
    if (listed == name) {
      return true;
    }
  }
  return false;
}

// Calls `visit(entry, file, line number)` for every host key line of
// `files` until it returns true; `unread` is told of a file left out.
template <class Visit>
void each_entry(std::span<const std::string> files, std::vector<std::string>& unread, Visit visit) {
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
      if (const auto entry = entry_of(line); entry && visit(*entry, file, number)) {
        return;
      }
    }
  }
}

// The value of "-o NAME=value" for `name` (which ends with "="), in any case.
std::optional<std::string> option_value(const std::string& option, std::string_view name) {
  const bool named =
      option.size() > name.size() && ::strncasecmp(option.c_str(), name.data(), name.size()) == 0;
  return named ? std::optional(option.substr(name.size())) : std::nullopt;
}

}  // namespace

std::vector<std::string> default_known_hosts_files() {
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') {
    const passwd* user = ::getpwuid(::geteuid());
    home = user != nullptr ? user->pw_dir : nullptr;
  }
  std::vector<std::string> files;
  if (home != nullptr && *home != '\0') {
    files.push_back(concat(home, "/.ssh/known_hosts"));
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
  each_entry(files, unread, [&](const Entry& entry, const std::string& file, std::size_t line) {
    if (entry.blob != host_key || (found && !entry.revoked)) {
      return false;
    }
    std::string names(entry.names);
    if (!entry.revoked && names.starts_with("|1|")) {
      const auto candidate =
          std::find_if(candidates.begin(), candidates.end(),
                       [&](const std::string& c) { return hashes_to(names, c); });
      if (candidate == candidates.end()) {
        return false;
      }
      names = *candidate;
    }
    found = KnownHost{std::move(names), file.substr(file.rfind('/') + 1), line, entry.revoked};
    return entry.revoked;
  });
  return found;
}

std::vector<std::string> host_keys_of(std::string_view name, std::span<const std::string> files,
                                      std::vector<std::string>& unread) {
  std::vector<std::string> keys;
  std::vector<std::string> revoked;
  each_entry(files, unread, [&](const Entry& entry, const std::string&, std::size_t) {
    if (entry.revoked) {
      revoked.push_back(entry.blob);
    } else if (names_name(entry.names, name)) {
      keys.push_back(entry.blob);
    }
    return false;
  });
  std::erase_if(keys, [&](const std::string& key) {
    return std::find(revoked.begin(), revoked.end(), key) != revoked.end();
  });
  return keys;
}

}  // namespace derodi_sim
