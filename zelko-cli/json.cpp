#include "json.hpp"

#include "terminal.hpp"

namespace zelko_cli {

namespace {

constexpr char k_hex_digits[] = "0123456789abcdef";

bool needs_escape(unsigned char byte) {
  return byte < 0x20 || byte == '"' || byte == '\\';
}

void append_escape(std::string& out, unsigned char byte) {
  switch (byte) {
    case '"':
      out += "\\\"";
      break;
    case '\\':
      out += "\\\\";
      break;
    case '\t':
      out += "\\t";
      break;
    case '\n':
      out += "\\n";
      break;
    case '\r':
      out += "\\r";
      break;
    default:
      out += "\\u00";
      out.push_back(k_hex_digits[byte >> 4]);
      out.push_back(k_hex_digits[byte & 0xF]);
  }
}

}  // namespace

void append_json_string(std::string& out, std::string_view text) {
  out.push_back('"');
  // Every byte that needs an escape is ASCII, so runs of other bytes, multi-byte
  // characters included, are copied whole.
  std::size_t run_start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (needs_escape(byte)) {
      out.append(text.substr(run_start, i - run_start));
      append_escape(out, byte);
      run_start = i + 1;
    }
  }
  out.append(text.substr(run_start));
  out.push_back('"');
}

void append_json_string_for_terminal(std::string& out, std::string_view text) {
  out.push_back('"');
  std::size_t run_start = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const UnsafeCharacter unsafe = unsafe_character_at(text.substr(i));
    if (!needs_escape(byte) && unsafe.length == 0) {
      ++i;
      continue;
    }
    out.append(text.substr(run_start, i - run_start));
    if (needs_escape(byte)) {
      append_escape(out, byte);
      i += 1;
    } else {
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) {
        out.push_back(k_hex_digits[(unsafe.code_point >> shift) & 0xF]);
      }
      i += unsafe.length;
    }
    run_start = i;
  }
  out.append(text.substr(run_start));
  out.push_back('"');
}

std::string json_string(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  append_json_string(out, text);
  return out;
}

}  // namespace zelko_cli
