// SPDX-License-Identifier: MIT
#include "keyring.hpp"

#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "fingerprint.hpp"
#include "process.hpp"
#include "text.hpp"
#include "zelko/ipc/decimal.hpp"
#include "zelko/ipc/os_error.hpp"

namespace derodi_sim {

namespace {

using namespace std::chrono_literals;

constexpr std::string_view k_comment_suffix = "@zelko-phone";
constexpr std::string_view k_made_prefix = "generated-";

// The n-th (0-based) word of `text`, words being separated by single
// spaces; the last word asked for runs to the end when `rest` is set.
std::string word(const std::string& text, std::size_t n, bool rest = false) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < n && start != std::string::npos; ++i) {
    start = text.find(' ', start);
    start = start == std::string::npos ? start : start + 1;
  }
  if (start == std::string::npos) {
    return {};
  }
  return text.substr(start, rest ? std::string::npos : text.find(' ', start) - start);
}

// The key whose files are at `private_path`.
std::expected<Key, std::string> load_key(const std::string& private_path, const std::string& name) {
  const std::string public_path = private_path + ".pub";
  const auto listed =
      run_captured({"ssh-keygen", "-l", "-E", "sha256", "-f", public_path}, {}, 10s);
  if (!listed) {
    return std::unexpected(listed.error());
  }
  Key key;
  key.public_line = first_line(public_path);
  const auto blob = key_blob(key.public_line);
  if (!blob) {
    return std::unexpected(public_path + " holds no public key");
  }
  key.name = name;
  key.algorithm = word(key.public_line, 0);
  key.comment = word(key.public_line, 2, true);
  key.fingerprint = word(*listed, 1);
  key.private_path = private_path;
  key.blob = *blob;
  return key;
}

std::expected<void, std::string> keygen(const std::string& private_path, const std::string& type,
                                        std::uint32_t bits, const std::string& name,
                                        const std::function<bool()>& abandoned) {
  std::vector<std::string> argv = {"ssh-keygen",        "-q", "-t",        type, "-N", "", "-C",
                                   phone_comment(name), "-f", private_path};
  if (type == "rsa") {
    argv.insert(argv.end(), {"-b", std::to_string(bits)});
  }
  // Large RSA keys take minutes; the client's leaving ends it sooner.
  if (auto made = run_captured(argv, {}, 1200s, abandoned); !made) {
    return std::unexpected(made.error());
  }
  return {};
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

}  // namespace

std::string phone_comment(const std::string& name) {
  return name + std::string(k_comment_suffix);
}

std::expected<Key, std::string> make_or_load_key(const std::string& private_path,
                                                 const std::string& type, std::uint32_t bits,
                                                 const std::string& name) {
  if (::access((private_path + ".pub").c_str(), R_OK) != 0) {
    if (auto made = keygen(private_path, type, bits, name, {}); !made) {
      return std::unexpected(made.error());
    }
  }
  return load_key(private_path, name);
}

std::expected<Key, std::string> make_new_key(const std::string& directory, const std::string& type,
                                             std::uint32_t bits, const std::string& name,
                                             const std::function<bool()>& abandoned) {
  // Made aside, in a directory of its own, then linked in under a free
  // name: link never replaces a file that is there.
  std::string scratch = directory + "/.making.XXXXXX";
  if (::mkdtemp(scratch.data()) == nullptr) {
    return std::unexpected("cannot make a key in " + directory + ": " +
                           zelko_ipc::describe_os_error(errno));
  }
  const std::string made = scratch + "/key";
  auto generated = keygen(made, type, bits, name, abandoned);
  std::string path;
  for (int n = 1; generated && path.empty(); ++n) {
    const std::string candidate = directory + "/" + std::string(k_made_prefix) + std::to_string(n);
    if (::link(made.c_str(), candidate.c_str()) != 0) {
      if (errno != EEXIST) {
        generated =
            std::unexpected(concat("cannot store the key: ", zelko_ipc::describe_os_error(errno)));
      }
      continue;
    }
    if (::link((made + ".pub").c_str(), (candidate + ".pub").c_str()) == 0) {
      path = candidate;
    } else {
      const int error = errno;
      ::unlink(candidate.c_str());
      if (error != EEXIST) {
        generated =
            std::unexpected(concat("cannot store the key: ", zelko_ipc::describe_os_error(error)));
      }
    }
  }
  ::unlink(made.c_str());
  ::unlink((made + ".pub").c_str());
  ::rmdir(scratch.c_str());
  if (!generated) {
    return std::unexpected(generated.error());
  }
  auto key = load_key(path, name);
  if (!key) {
    ::unlink(path.c_str());
    ::unlink((path + ".pub").c_str());
  }
  return key;
}

std::expected<std::vector<Key>, std::string> load_made_keys(const std::string& directory) {
  std::vector<std::pair<std::uint64_t, std::string>> found;
  DIR* listing = ::opendir(directory.c_str());
  if (listing == nullptr) {
    return std::unexpected(
        concat("cannot read ", directory, ": ", zelko_ipc::describe_os_error(errno)));
  }
  // A listing cut short would lose keys: a failed read ends the start.
  int error = 0;
  while (true) {
    errno = 0;
    const dirent* entry = ::readdir(listing);
    if (entry == nullptr) {
      error = errno;
      break;
    }
    if (const auto n = made_number(entry->d_name)) {
      found.emplace_back(*n, directory + "/" + std::string(k_made_prefix) + std::to_string(*n));
    }
  }
  ::closedir(listing);
  if (error != 0) {
    return std::unexpected(
        concat("cannot read ", directory, ": ", zelko_ipc::describe_os_error(error)));
  }
  std::sort(found.begin(), found.end());
  std::vector<Key> keys;
  for (const auto& [n, path] : found) {
    if (::access(path.c_str(), R_OK) != 0) {
      continue;  // a public half alone is no key the phone holds
    }
    const std::string comment = word(first_line(path + ".pub"), 2, true);
    const std::string name = comment.ends_with(k_comment_suffix)
                                 ? comment.substr(0, comment.size() - k_comment_suffix.size())
                                 : comment;
    auto key = load_key(path, name);
    if (!key) {
      return std::unexpected(key.error());
    }
    keys.push_back(std::move(*key));
  }
  return keys;
}

void remove_key_files(const Key& key) {
  ::unlink(key.private_path.c_str());
  ::unlink((key.private_path + ".pub").c_str());
}

}  // namespace derodi_sim
