// SPDX-License-Identifier: MIT
#include "json.hpp"

#include <gtest/gtest.h>

namespace {

std::string json_literal(std::string_view text) {
  std::string out(text.size() * zelko_cli::k_json_expansion + 2, '"');
  char* end = zelko_cli::write_json_escaped(out.data() + 1, text);
  out.resize(static_cast<std::size_t>(end - out.data()) + 1);
  return out;
}

TEST(JsonEscaped, Table) {
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
      // The worst case: every byte at its longest escape.
      {"\x01\x02\x03", R"("\u0001\u0002\u0003")"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(json_literal(row.text), row.literal) << row.text;
  }
}

}  // namespace
