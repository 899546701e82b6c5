#include "zelko/ipc/record.hpp"

#include <cstring>

namespace zelko_ipc {

namespace {

// The byte an escape letter stands for, or 0 when the pair is not an escape.
char unescaped_byte(char letter) {
  switch (letter) {
    case 'n':
      return '\n';
    case 't':
      return '\t';
    case '\\':
      return '\\';
    default:
      return 0;
  }
}

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

std::string unescape(std::string_view escaped) {
  std::string out;
  out.reserve(escaped.size());
  // Work byte-wise: continuation bytes of multi-byte characters are never a
  // backslash, so this gives the same result as walking whole characters.
  while (!escaped.empty()) {
    const void* found = std::memchr(escaped.data(), '\\', escaped.size());
    if (found == nullptr) {
      out.append(escaped);
      break;
    }
    const auto at = static_cast<std::size_t>(static_cast<const char*>(found) - escaped.data());
    out.append(escaped.substr(0, at));
    if (at + 1 == escaped.size()) {
      out.push_back('\\');
      break;
    }
    const char decoded = unescaped_byte(escaped[at + 1]);
    if (decoded != 0) {
      out.push_back(decoded);
    } else {
      out.push_back('\\');
      out.push_back(escaped[at + 1]);
    }
    escaped.remove_prefix(at + 2);
  }
  return out;
}

std::string join(std::span<const std::string_view> fields) {
  std::size_t size = fields.size();
  for (const std::string_view field : fields) {
    size += field.size();
  }
  std::string out;
  out.reserve(size);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) {
      out.push_back('\t');
    }
    append_escaped(out, fields[i]);
  }
  return out;
}

bool split_record(std::string_view record, std::span<std::string_view> pieces) {
  std::size_t count = 0;
  while (true) {
    if (count == pieces.size()) {
      return false;
    }
    const std::size_t tab = record.find('\t');
    pieces[count++] = record.substr(0, tab);
    if (tab == std::string_view::npos) {
      break;
    }
    record.remove_prefix(tab + 1);
  }
  return count == pieces.size();
}

}  // namespace zelko_ipc
