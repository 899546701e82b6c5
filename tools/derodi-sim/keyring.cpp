// SPDX-License-Identifier: MIT
#include "keyring.hpp"

#include <unistd.h>

#include <fstream>
#include <iterator>

#include "process.hpp"

namespace derodi_sim {

namespace {

std::string first_line(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// The n-th (0-based) word of `text`, words being separated by single spaces.
std::string word(const std::string& text, std::size_t n) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < n && start != std::string::npos; ++i) {
    start = text.find(' ', start);
    start = start == std::string::npos ? start : start + 1;
  }
  if (start == std::string::npos) {
    return {};
  }
  return text.substr(start, text.find(' ', start) - start);
}

}  // namespace

std::expected<Key, std::string> make_or_load_key(const std::string& private_path,
                                                 const std::string& type, std::uint32_t bits,
                                                 const std::string& name,
                                                 const std::string& comment,
                                                 const std::function<bool()>& abandoned) {
  const std::string public_path = private_path + ".pub";
  if (::access(public_path.c_str(), R_OK) != 0) {
    std::vector<std::string> argv = {"ssh-keygen", "-q", "-t",    type, "-N",
                                     "",           "-C", comment, "-f", private_path};
    if (type == "rsa") {
      argv.insert(argv.end(), {"-b", std::to_string(bits)});
    }
    if (auto made = run_captured(argv, {}, abandoned); !made) {
      return std::unexpected(made.error());
    }
  }
  const auto listed = run_captured({"ssh-keygen", "-l", "-E", "sha256", "-f", public_path});
  if (!listed) {
    return std::unexpected(listed.error());
  }
  Key key;
  key.name = name;
  key.public_line = first_line(public_path);
  key.algorithm = word(key.public_line, 0);
  key.comment = comment;
  key.fingerprint = word(*listed, 1);
  key.private_path = private_path;
  return key;
}

}  // namespace derodi_sim
