#include "json.hpp"

#include <gtest/gtest.h>

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

}  // namespace
