// SPDX-License-Identifier: MIT
#include "zelko/ipc/terminal.hpp"

#include <gtest/gtest.h>

#include "json.hpp"

namespace {

std::string for_terminal(std::string_view text) {
  std::string out(text.size() * zelko_ipc::k_terminal_expansion, '\0');
  out.resize(
      static_cast<std::size_t>(zelko_ipc::write_for_terminal(out.data(), text) - out.data()));
  return out;
}

std::string json_for_terminal(std::string_view text) {
  std::string out(text.size() * zelko_cli::k_json_expansion + 2, '"');
  char* end = zelko_cli::write_json_escaped_for_terminal(out.data() + 1, text);
  out.resize(static_cast<std::size_t>(end - out.data()) + 1);
  return out;
}

TEST(Terminal, UnsafeCharactersBecomeVisibleEscapes) {
  struct Row {
    std::string_view text;
    std::string_view shown;
  };
  const Row rows[] = {
      {"plain text, no escapes", "plain text, no escapes"},
      // One record per line: a TAB or LF inside a field cannot pass for a separator.
      {"tabs\tand\nnewlines", "tabs\\tand\\nnewlines"},
      {"\x1b]0;owned\x07", "\\x1b]0;owned\\x07"},
      {"\x1b[2J\r", "\\x1b[2J\\x0d"},
      {std::string_view("\0\x01\x1f\x7f", 4), "\\x00\\x01\\x1f\\x7f"},
      {"\xc2\x80 \xc2\x9b \xc2\x9f \xc2\xa0 \xc2\xa7", "\\u{80} \\u{9b} \\u{9f} \xc2\xa0 \xc2\xa7"},
      {"\xe2\x80\xaa\xe2\x80\xae\xe2\x81\xa6\xe2\x81\xa9", "\\u{202a}\\u{202e}\\u{2066}\\u{2069}"},
      // The bidirectional marks and the line and paragraph separators.
      {"\xe2\x80\x8e\xe2\x80\x8f\xd8\x9c\xe2\x80\xa8\xe2\x80\xa9",
       "\\u{200e}\\u{200f}\\u{061c}\\u{2028}\\u{2029}"},
      // Their neighbours stay as they are.
      {"\xe2\x80\x8d\xe2\x80\x90\xd8\x9b\xe2\x80\xa7\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa",
       "\xe2\x80\x8d\xe2\x80\x90\xd8\x9b\xe2\x80\xa7\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa"},
      // A backslash is doubled, so text that looks like an escape stays distinguishable.
      {"\\x1b", "\\\\x1b"},
      {"caf\xc3\xa9 \xf0\x9f\x94\x91", "caf\xc3\xa9 \xf0\x9f\x94\x91"},
      {"\xe2\x80", "\xe2\x80"},  // a cut-off sequence is not a control
  };
  for (const Row& row : rows) {
    EXPECT_EQ(for_terminal(row.text), row.shown) << row.text;
  }
}

TEST(Terminal, JsonStaysTheSameValue) {
  struct Row {
    std::string_view text;
    std::string_view literal;
  };
  const Row rows[] = {
      {"plain", R"("plain")"},
      {"\x1b[31m\"\\", R"("\u001b[31m\"\\")"},
      {"\x7f\xc2\x85\xe2\x80\xae\xe2\x81\xa8", R"("\u007f\u0085\u202e\u2068")"},
      {"\xe2\x80\xa8\xd8\x9c\xc3\xa9", R"("\u2028\u061c)"
                                       "\xc3\xa9\""},
      // What JSON escapes anyway, and safe characters, as plain JSON has them.
      {"a\tb\x01\xf0\x9f\x94\x91", R"("a\tb\u0001)"
                                   "\xf0\x9f\x94\x91\""},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(json_for_terminal(row.text), row.literal) << row.text;
  }
}

}  // namespace
