// SPDX-License-Identifier: MIT
#include "json.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

namespace {

using zelko_cli::json_string;

TEST(JsonString, Table) {
  struct Row {
    std::string_view text;
    std::string_view literal;
  };
  const Row rows[] = {
      {"", R"("")"},
      {"work", R"("work")"},
      {"say \"hi\"", R"("say \"hi\"")"},
      {"C:\\keys", R"("C:\\keys")"},
      {"a\tb\nc\rd", R"("a\tb\nc\rd")"},
      {"\x01", R"("\u0001")"},
      {"\x08\x0c", R"("\u0008\u000c")"},
      {"\x1b[31m", R"("\u001b[31m")"},
      {"\x1f", R"("\u001f")"},
      {std::string_view("\0", 1), R"("\u0000")"},
      {"\x7f", "\"\x7f\""},
      {"a/b", R"("a/b")"},
      {"caf\xc3\xa9 \xe2\x80\xa8\xe2\x80\xa9 \xf0\x9f\x94\x91",
       "\"caf\xc3\xa9 \xe2\x80\xa8\xe2\x80\xa9 \xf0\x9f\x94\x91\""},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(json_string(row.text), row.literal) << row.text;
  }
}

// A byte-at-a-time encoder, written straight from the escape table, to
// check the run-wise one against.
std::string reference_json_string(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (byte < 0x20) {
      char escape[7];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

TEST(JsonString, AgreesWithTheTableForEveryLengthAndPosition) {
  std::mt19937 random(99);
  const std::string_view alphabet[] = {"a", "\"",   "\\",       "\t",           "\x01", "\x1f",
                                       " ", "\x7f", "\xc3\xa9", "\xe2\x80\xa8", "z",    "0"};
  std::uniform_int_distribution<std::size_t> pick(0, std::size(alphabet) - 1);
  for (std::size_t length = 0; length < 80; ++length) {
    for (int round = 0; round < 40; ++round) {
      std::string text;
      while (text.size() < length) {
        text += round % 4 == 0 ? std::string_view("q") : alphabet[pick(random)];
      }
      ASSERT_EQ(json_string(text), reference_json_string(text)) << length;
    }
  }
}

}  // namespace
