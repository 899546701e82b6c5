// SPDX-License-Identifier: MIT
#include "zelko/ipc/record.hpp"

#include <algorithm>
#include <cstring>

namespace zelko_ipc {

namespace {

// The letter a backslash escape gives each byte, or 0 for a byte that goes as it is.
char escape_letter(char byte) {
  switch (byte) {
    case '\\':
      return '\\';
    case '\t':
      return 't';
    case '\n':
      return 'n';
    default:
      return 0;
  }
}

// The byte that a backslash followed by `letter` stands for, or 0 when the
// pair is no escape.
char unescaped_byte(char letter) {
  switch (letter) {
    case '\\':
      return '\\';
    case 't':
      return '\t';
    case 'n':
      return '\n';
    default:
      return 0;
  }
}

char* find(char* from, char* end, char byte) {
  return static_cast<char*>(std::memchr(from, byte, static_cast<std::size_t>(end - from)));
}

// Appends `field` to `out`, escaped.
void append_escaped(std::string& out, std::string_view field) {
  std::size_t run_start = 0;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (const char letter = escape_letter(field[i]); letter != 0) {
      out.append(field.substr(run_start, i - run_start));
      out.push_back('\\');
      out.push_back(letter);
      run_start = i + 1;
    }
  }
  out.append(field.substr(run_start));
}

// Decodes the record from `begin` to `end` to `out` (at or before `begin`):
// its TABs become field breaks, then its escapes are undone. A field break
// is no escape letter, so a backslash before one stays, as at the end of a
// field. Returns the end of the decoded record, or nullptr when it does not
// hold exactly `fields` fields.
char* decode_record(char* out, char* begin, char* end, std::size_t fields) {
  std::size_t breaks = 0;
  for (char* tab = begin; (tab = find(tab, end, '\t')) != nullptr; ++tab) {
    if (++breaks == fields) {
      return nullptr;
    }
    *tab = k_field_break;
  }
  if (breaks + 1 != fields) {
    return nullptr;
  }
  return unescape_into(out, {begin, static_cast<std::size_t>(end - begin)});
}

}  // namespace

std::string escape(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  append_escaped(out, field);
  return out;
}

std::string unescape(std::string_view escaped) {
  std::string out(escaped);
  out.resize(static_cast<std::size_t>(unescape_into(out.data(), out) - out.data()));
  return out;
}

std::string join(std::span<const std::string_view> fields) {
  std::string out;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) {
      out.push_back('\t');
    }
    append_escaped(out, fields[i]);
  }
  return out;
}

std::string join(std::initializer_list<std::string_view> fields) {
  return join(std::span(fields.begin(), fields.size()));
}

std::string head_and_record(std::string_view head, std::initializer_list<std::string_view> fields) {
  std::string out(head);
  out.push_back('\n');
  return out.append(join(fields));
}

char* unescape_into(char* out, std::string_view escaped) {
  const char* read = escaped.data();
  const char* const end = read + escaped.size();
  while (read < end) {
    // The run up to the next backslash, in one move.
    const void* found = std::memchr(read, '\\', static_cast<std::size_t>(end - read));
    const char* const stop = found == nullptr ? end : static_cast<const char*>(found);
    std::memmove(out, read, static_cast<std::size_t>(stop - read));
    out += stop - read;
    if (stop == end) {
      break;
    }
    if (stop + 1 == end) {
      *out++ = '\\';
      break;
    }
    const char decoded = unescaped_byte(stop[1]);
    if (decoded != 0) {
      *out++ = decoded;
    } else {
      *out++ = '\\';
      *out++ = stop[1];
    }
    read = stop + 2;
  }
  return out;
}

bool decode_records(std::string& text, std::size_t start, std::size_t fields, Lines lines) {
  char* const base = text.data();
  char* const end = base + text.size();
  char* out = base;
  bool first = true;
  for (char* line = base + std::min(start, text.size()); line <= end;) {
    char* const lf = find(line, end, '\n');
    char* const line_end = lf == nullptr ? end : lf;
    if (lines == Lines::first || line_end != line) {
      if (!first) {
        *out++ = k_record_break;
      }
      first = false;
      out = decode_record(out, line, line_end, fields);
      if (out == nullptr) {
        return false;
      }
    }
    if (lf == nullptr || lines == Lines::first) {
      break;
    }
    line = lf + 1;
  }
  text.resize(static_cast<std::size_t>(out - base));
  return true;
}

}  // namespace zelko_ipc
