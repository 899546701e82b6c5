// SPDX-License-Identifier: MIT
#include "text.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "zelko/ipc/fd.hpp"
#include "zelko/ipc/os_error.hpp"
#include "zelko/ipc/terminal.hpp"
#include "zelko/ipc/utf8.hpp"
#include "zelko/ipc/white_space.hpp"

namespace derodi_sim {

namespace {

// How one character (or one byte that is no UTF-8) of a foreign text shows.
std::string shown_character(std::string_view text, std::size_t& at) {
  char escape[16];
  const auto c = zelko_ipc::decode_utf8(text.substr(at));
  if (!c) {
    std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(text[at]));
    ++at;
    return escape;
  }
  const std::string_view literal = text.substr(at, c->length);
  at += c->length;
  if (c->value == '\\' || c->value == '\'') {
    return std::string("\\").append(literal);
  }
  if (!zelko_ipc::is_unsafe_to_show(c->value)) {
    return std::string(literal);
  }
  std::snprintf(escape, sizeof escape, c->value < 0x80 ? "\\x%02x" : "\\u{%04x}",
                static_cast<unsigned>(c->value));
  return escape;
}

}  // namespace

std::string_view next_word(std::string_view text, std::size_t& at, std::string_view separators) {
  at = std::min(text.find_first_not_of(separators, at), text.size());
  const std::size_t end = std::min(text.find_first_of(separators, at), text.size());
  const std::string_view word = text.substr(at, end - at);
  at = end;
  return word;
}

std::string foreign(std::string_view text, std::size_t characters) {
  std::string out = "'";
  std::size_t at = 0;
  for (std::size_t shown = 0; at < text.size() && shown < characters; ++shown) {
    std::size_t next = at;
    const std::string piece = shown_character(text, next);
    if (out.size() - 1 + piece.size() > 4 * characters) {
      break;
    }
    out.append(piece);
    at = next;
  }
  out.push_back('\'');
  if (at < text.size()) {
    out.append("... (").append(std::to_string(text.size())).append(" bytes)");
  }
  return out;
}

std::string name_fault(std::string_view name) {
  if (name.empty()) {
    return "a key name must not be empty";
  }
  if (zelko_ipc::trim_white_space(name).empty()) {
    return "a key name must hold more than white space";
  }
  std::size_t characters = 0;
  for (std::size_t at = 0; at < name.size(); ++characters) {
    const auto c = zelko_ipc::decode_utf8(name.substr(at));
    if (!c) {
      return "a key name must be UTF-8";
    }
    if (zelko_ipc::is_unsafe_to_show(c->value)) {
      return c->value < 0xA0
                 ? "a key name must not hold control characters"
                 : "a key name must not hold invisible formatting characters or line separators";
    }
    at += c->length;
  }
  if (characters > k_field_characters) {
    return "a key name must be at most " + std::to_string(k_field_characters) + " characters long";
  }
  return {};
}

std::expected<std::string, std::string> read_regular_file(int directory, const std::string& path,
                                                          std::size_t limit) {
  // Without blocking: the open of a FIFO would wait for a writer.
  const zelko_ipc::Fd fd(
      ::openat(directory, path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  struct stat info {};
  if (!fd || ::fstat(fd.get(), &info) != 0) {
    return std::unexpected(zelko_ipc::describe_os_error(errno));
  }
  if (!S_ISREG(info.st_mode)) {
    return std::unexpected(std::string("it is not a regular file"));
  }
  std::string content(limit, '\0');
  std::size_t have = 0;
  while (have < limit) {
    const ssize_t got = ::read(fd.get(), content.data() + have, limit - have);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      break;
    }
    have += static_cast<std::size_t>(got);
  }
  content.resize(have);
  return content;
}

std::string read_small_file(int directory, const std::string& path, std::size_t limit) {
  return read_regular_file(directory, path, limit).value_or("");
}

std::string first_line(int directory, const std::string& path) {
  std::string content = read_small_file(directory, path, 64 * 1024);
  content.resize(std::min(content.size(), content.find('\n')));
  return content;
}

}  // namespace derodi_sim
