// SPDX-License-Identifier: MIT
#include "zelko/ipc/record.hpp"

#include <cstring>

namespace zelko_ipc {

namespace {

char escape_letter(char byte) {
  switch (byte) {
    case '\n':
      return 'n';
    case '\t':
      return 't';
    default:
      return '\\';
  }
}

bool needs_escape(char byte) {
  return byte == '\\' || byte == '\t' || byte == '\n';
}

}  // namespace

void append_escaped(std::string& out, std::string_view field) {
  std::size_t run_start = 0;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (!needs_escape(field[i])) {
      continue;
    }
    out.append(field.substr(run_start, i - run_start));
    out.push_back('\\');
    out.push_back(escape_letter(field[i]));
    run_start = i + 1;
  }
  out.append(field.substr(run_start));
}

std::string escape(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  append_escaped(out, field);
  return out;
}

char* unescape_into(char* out, std::string_view escaped) {
  const char* read = escaped.data();
  const char* const end = read + escaped.size();
  while (read < end) {
    // The run up to the next backslash, in one move.
    const void* found = std::memchr(read, '\\', static_cast<std::size_t>(end - read));
    const char* const stop = found == nullptr ? end : static_cast<const char*>(found);
    if (out != read) {
      std::memmove(out, read, static_cast<std::size_t>(stop - read));
    }
    out += stop - read;
    read = stop;
    if (read == end) {
      break;
    }
    if (read + 1 == end) {
      *out++ = '\\';
      break;
    }
    const char next = read[1];
    const char decoded = unescaped_byte(next);
    if (decoded != 0) {
      *out++ = decoded;
    } else {
      *out++ = '\\';
      *out++ = next;
    }
    read += 2;
  }
  return out;
}

std::string unescape(std::string_view escaped) {
  std::string out(escaped);
  out.resize(static_cast<std::size_t>(unescape_into(out.data(), out) - out.data()));
  return out;
}

void append_joined(std::string& out, std::span<const std::string_view> fields) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) {
      out.push_back('\t');
    }
    append_escaped(out, fields[i]);
  }
}

std::string join(std::span<const std::string_view> fields) {
  std::size_t size = fields.size();
  for (const std::string_view field : fields) {
    size += field.size();
  }
  std::string out;
  out.reserve(size);
  append_joined(out, fields);
  return out;
}

bool split_record(std::string_view record, std::span<std::string_view> pieces) {
  if (pieces.empty()) {
    return false;
  }
  for (std::size_t i = 0; i + 1 < pieces.size(); ++i) {
    const std::size_t tab = record.find('\t');
    if (tab == std::string_view::npos) {
      return false;
    }
    pieces[i] = record.substr(0, tab);
    record.remove_prefix(tab + 1);
  }
  pieces.back() = record;
  return record.find('\t') == std::string_view::npos;
}

}  // namespace zelko_ipc
