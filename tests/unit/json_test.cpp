// SPDX-License-Identifier: MIT
#include "json.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "console.hpp"
#include "temp_dir.hpp"

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
      // The worst case: every byte at its longest escape.
      {"\x01\x02\x03", R"("\u0001\u0002\u0003")"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(json_string(row.text), row.literal) << row.text;
  }
}

// What the JSON listing writes for `text` after `before`, through its
// buffered output into a file.
std::string listed(const std::string& before, std::string_view text) {
  const zelko_test::TempDir directory;
  std::FILE* file = std::fopen((directory / "out").c_str(), "w+");
  const auto sink = std::make_unique<zelko_cli::Sink>(fileno(file));
  EXPECT_TRUE(sink->text(before).json(text).flush());
  std::string written(before.size() + text.size() * zelko_cli::k_json_expansion + 2, '\0');
  std::rewind(file);
  written.resize(std::fread(written.data(), 1, written.size(), file));
  std::fclose(file);
  return written.substr(before.size());
}

// The listing and json_string are one encoder: the same literal for every
// text, whether it fits the output buffer or is written in pieces.
TEST(JsonString, IsWhatTheListingWrites) {
  std::string mixed;
  while (mixed.size() < 200000) {
    mixed += "plain \"quoted\" \\ \t\x01\xc3\xa9\xe2\x80\xae\n";
  }
  for (const std::string& before : {std::string(), std::string(65530, ' ')}) {
    for (const std::string_view text : {std::string_view("k\x1f\"e\\y"), std::string_view(mixed)}) {
      EXPECT_EQ(listed(before, text), json_string(text)) << before.size() << " " << text.size();
    }
  }
}

}  // namespace
