// SPDX-License-Identifier: MIT
#include "keyring.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "agent_messages.hpp"
#include "process.hpp"
#include "text.hpp"
#include "zelko/ipc/decimal.hpp"
#include "zelko/ipc/os_error.hpp"

namespace derodi_sim {

namespace {

using namespace std::chrono_literals;

constexpr std::string_view k_comment_suffix = "@zelko-phone";
constexpr std::string_view k_made_prefix = "generated-";
constexpr std::string_view k_making_prefix = ".making.";

// An authorized_keys line's type, and its comment (all after the key).
std::string key_type(std::string_view line) {
  std::size_t at = 0;
  return std::string(next_word(line, at));
}

std::string key_comment(std::string_view line) {
  std::size_t at = 0;
  next_word(line, at);
  next_word(line, at);
  const std::string_view first = next_word(line, at);
  return first.empty() ? std::string() : std::string(line.substr(at - first.size()));
}

// The key whose files are `file` and `file`.pub in `directory`.
std::expected<Key, std::string> load_key(const TrustedDirectory& directory, const std::string& file,
                                         const std::string& name) {
  const std::string line = first_line(directory.fd(), file + ".pub");
  const auto blob = key_blob(line);
  if (!blob) {
    return std::unexpected(concat(directory.path(), "/", file, ".pub holds no public key"));
  }
  return Key{name, key_type(line), fingerprint(*blob), key_comment(line), line, file, *blob};
}

std::expected<std::string, std::string> keygen(const RunLimits& limits, const std::string& file,
                                               const std::string& type, std::uint32_t bits,
                                               const std::string& name) {
  std::vector<std::string> argv = {"ssh-keygen",        "-q", "-t", type, "-N", "", "-C",
                                   phone_comment(name), "-f", file};
  if (type == "rsa") {
    argv.insert(argv.end(), {"-b", std::to_string(bits)});
  }
  return run_captured(argv, {}, limits);
}

// "generated-N.pub" gives N; any other name nothing.
std::optional<std::uint64_t> made_number(std::string_view file) {
  if (!file.starts_with(k_made_prefix) || !file.ends_with(".pub")) {
    return std::nullopt;
  }
  file.remove_prefix(k_made_prefix.size());
  file.remove_suffix(4);
  const auto n = zelko_ipc::parse_unsigned_decimal(file, 1u << 30);
  // Only the name make_new_key gives: no sign, no leading zero.
  if (!n || std::to_string(*n) != file) {
    return std::nullopt;
  }
  return n;
}

// The numbers of the keys make_new_key made, in order (a listing cut short
// would lose keys); leftovers of a sim killed while it made one go.
std::expected<std::vector<std::uint64_t>, std::string> made_keys(
    const TrustedDirectory& directory) {
  std::vector<std::uint64_t> made;
  std::vector<std::string> leftovers;
  std::error_code error;
  for (std::filesystem::directory_iterator entry(directory.through_fd("."), error), end;
       !error && entry != end; entry.increment(error)) {
    const std::string name = entry->path().filename();
    if (name.starts_with(k_making_prefix)) {
      leftovers.push_back(name);
    } else if (const auto n = made_number(name)) {
      made.push_back(*n);
    }
  }
  if (error) {
    return std::unexpected(concat("cannot read ", directory.path(), ": ", error.message()));
  }
  for (const std::string& name : leftovers) {
    directory.remove(name);
  }
  std::sort(made.begin(), made.end());
  return made;
}

}  // namespace

std::string phone_comment(const std::string& name) {
  return name + std::string(k_comment_suffix);
}

std::expected<PhoneKeys, std::string> load_phone_keys(const TrustedDirectory& directory,
                                                      const Stop& stop) {
  struct Wanted {
    const char* name;
    const char* type;
    std::uint32_t bits;
  };
  constexpr Wanted wanted[] = {
      {"work", "ed25519", 0}, {"github", "ed25519", 0}, {"legacy", "rsa", 2048}};
  std::vector<std::pair<std::string, std::string>> files;  // each key's file and name
  for (const Wanted& w : wanted) {
    if (::faccessat(directory.fd(), concat(w.name, ".pub").c_str(), R_OK, 0) != 0) {
      if (auto made = keygen(RunLimits{directory.fd(), 60s, stop}, w.name, w.type, w.bits, w.name);
          !made) {
        return std::unexpected(made.error());
      }
    }
    files.emplace_back(w.name, w.name);
  }
  const auto made = made_keys(directory);
  if (!made) {
    return std::unexpected(made.error());
  }
  PhoneKeys phone;
  for (const std::uint64_t n : *made) {
    const std::string file = concat(k_made_prefix, std::to_string(n));
    if (::faccessat(directory.fd(), file.c_str(), R_OK, 0) != 0) {
      continue;  // a public half alone is no key the phone holds
    }
    const std::string comment = key_comment(first_line(directory.fd(), file + ".pub"));
    const std::string name = comment.ends_with(k_comment_suffix)
                                 ? comment.substr(0, comment.size() - k_comment_suffix.size())
                                 : comment;
    const std::string fault = name_fault(name);
    const bool taken = std::any_of(files.begin(), files.end(),
                                   [&](const auto& other) { return other.second == name; });
    if (!fault.empty() || taken) {
      phone.skipped.push_back(concat("derodi-sim: left out the key in ", directory.path(), "/",
                                     file, ": ", taken ? "its name is taken" : fault));
    } else {
      files.emplace_back(file, name);
    }
  }
  for (const auto& [file, name] : files) {
    auto key = load_key(directory, file, name);
    if (!key) {
      return std::unexpected(key.error());
    }
    phone.keys.push_back(std::move(*key));
  }
  return phone;
}

std::expected<Key, std::string> make_new_key(const TrustedDirectory& directory,
                                             const std::string& type, std::uint32_t bits,
                                             const std::string& name, const HangUpWatch& client) {
  // Made aside, then linked in under a free name (link replaces nothing).
  auto scratch = directory.make_private(k_making_prefix);
  if (!scratch) {
    return std::unexpected(scratch.error());
  }
  const std::string made = *scratch + "/key";
  // Large RSA keys take minutes; the client's leaving ends it sooner.
  auto generated =
      keygen(RunLimits{directory.fd(), 1200s, client.stop(), &client}, made, type, bits, name);
  std::string file;
  for (int n = 1; generated && file.empty(); ++n) {
    const std::string candidate = concat(k_made_prefix, std::to_string(n));
    const auto link = [&](std::string_view suffix) {
      return ::linkat(directory.fd(), concat(made, suffix).c_str(), directory.fd(),
                      concat(candidate, suffix).c_str(), 0) == 0;
    };
    const bool linked = link("");
    if (linked && link(".pub")) {
      file = candidate;
      continue;
    }
    const int error = errno;
    if (linked) {
      ::unlinkat(directory.fd(), candidate.c_str(), 0);
    }
    if (error != EEXIST) {
      generated =
          std::unexpected(concat("cannot store the key: ", zelko_ipc::describe_os_error(error)));
    }
  }
  directory.remove(*scratch);
  if (!generated) {
    return std::unexpected(generated.error());
  }
  auto key = load_key(directory, file, name);
  if (!key) {
    remove_key_files(directory, file);
  }
  return key;
}

void remove_key_files(const TrustedDirectory& directory, const std::string& file) {
  ::unlinkat(directory.fd(), file.c_str(), 0);
  ::unlinkat(directory.fd(), (file + ".pub").c_str(), 0);
}

}  // namespace derodi_sim
