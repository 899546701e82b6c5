// SPDX-License-Identifier: MIT
#include "zelko/ipc/terminal.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

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
      // Characters that show as nothing: zero width, variation selectors,
      // a Mongolian one, a Khmer vowel, a filler, a tag.
      {"\u200b\u200d\ufe0f\U000E0100\u180b\u17b4\u3164\U000E0041",
       "\\u{200b}\\u{200d}\\u{fe0f}\\u{e0100}\\u{180b}\\u{17b4}\\u{3164}\\u{e0041}"},
      // Their neighbours stay as they are.
      {"\u2010\u061b\u2027\u202f\u2070\ufe10\u17b6\u180a\u00ae",
       "\u2010\u061b\u2027\u202f\u2070\ufe10\u17b6\u180a\u00ae"},
      // A backslash is doubled, so text that looks like an escape stays distinguishable.
      {"\\x1b", "\\\\x1b"},
      {"caf\xc3\xa9 \xf0\x9f\x94\x91", "caf\xc3\xa9 \xf0\x9f\x94\x91"},
      {"\xe2\x80", "\xe2\x80"},  // a cut-off sequence is not a control
  };
  for (const Row& row : rows) {
    EXPECT_EQ(for_terminal(row.text), row.shown) << row.text;
  }
}

// The one list against Unicode's own, where the unicode-data package has it.
TEST(Terminal, UnsafeCharactersAreUnicodesDefaultIgnorablesAndControls) {
  std::ifstream properties("/usr/share/unicode/DerivedCoreProperties.txt");
  if (!properties) {
    GTEST_SKIP() << "/usr/share/unicode/DerivedCoreProperties.txt is missing (unicode-data)";
  }
  std::vector<bool> expected(0x110000);
  for (char32_t c = 0; c < 0xA0; ++c) {
    expected[c] = c < 0x20 || c >= 0x7F;
  }
  expected[0x2028] = expected[0x2029] = true;
  std::string line;
  std::size_t listed = 0;
  while (std::getline(properties, line)) {
    if (line.find("; Default_Ignorable_Code_Point") == std::string::npos) {
      continue;
    }
    const unsigned long first = std::stoul(line, nullptr, 16);
    const std::size_t dots = line.find("..");
    const unsigned long last =
        dots < line.find(';') ? std::stoul(line.substr(dots + 2), nullptr, 16) : first;
    for (unsigned long c = first; c <= last; ++c, ++listed) {
      expected[c] = true;
    }
  }
  ASSERT_GT(listed, 4000u);
  for (char32_t c = 0; c < expected.size(); ++c) {
    ASSERT_EQ(zelko_ipc::is_unsafe_to_show(c), expected[c])
        << std::hex << "U+" << static_cast<unsigned>(c);
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
      {"\ufe0f\U000E0100", R"("\ufe0f\udb40\udd00")"},
      // What JSON escapes anyway, and safe characters, as plain JSON has them.
      {"a\tb\x01\xf0\x9f\x94\x91", R"("a\tb\u0001)"
                                   "\xf0\x9f\x94\x91\""},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(json_for_terminal(row.text), row.literal) << row.text;
  }
}

}  // namespace
