// SPDX-License-Identifier: MIT
// How the simulated phone shows text another program chose, and which host
// names it reads off an ssh command line.

#include <gtest/gtest.h>

#include "known_hosts.hpp"
#include "text.hpp"
#include "zelko/ipc/utf8.hpp"

namespace derodi_sim {
namespace {

TEST(ForeignText, QuotesSoNothingEndsOrHidesIt) {
  const std::pair<std::string, std::string> rows[] = {
      {"plain name", "'plain name'"},
      {"it's a \\ back", "'it\\'s a \\\\ back'"},
      {"\x1b[31mred\x07", "'\\x1b[31mred\\x07'"},
      {"tab\there\nline", "'tab\\x09here\\x0aline'"},
      {"ali\u200bce\ufeff", "'ali\\u{200b}ce\\u{feff}'"},
      {"\u202eevil\u2028", "'\\u{202e}evil\\u{2028}'"},
      {"nb\u00a0sp\u3164", "'nb\u00a0sp\\u{3164}'"},
      {"work\ufe0f\U000E0100\u180b\u17b4", "'work\\u{fe0f}\\u{e0100}\\u{180b}\\u{17b4}'"},
      {"c1\xc2\x85", "'c1\\u{0085}'"},
      {"bad\xff\xc3", "'bad\\xff\\xc3'"},
      {"caf\u00e9 \U0001F511", "'caf\u00e9 \U0001F511'"},
  };
  for (const auto& [text, shown] : rows) {
    EXPECT_EQ(foreign(text), shown) << text;
  }
}

TEST(ForeignText, IsCappedBetweenTwoCharacters) {
  EXPECT_EQ(foreign(std::string(64, 'a')), "'" + std::string(64, 'a') + "'");
  EXPECT_EQ(foreign(std::string(65, 'a')), "'" + std::string(64, 'a') + "'... (65 bytes)");
  EXPECT_EQ(foreign(std::string(4200, '\x1b')).size(), 2 + 64 * 4 + 16u);
  // Characters of every width, starting at every offset of the cut.
  for (const std::string character : {"\u00e9", "\u20ac", "\U0001F511"}) {
    for (std::size_t offset = 0; offset < 4; ++offset) {
      const std::string text = std::string(offset + 40, 'a') + [&] {
        std::string many;
        for (int i = 0; i < 60; ++i) {
          many += character;
        }
        return many;
      }();
      const std::string shown = foreign(text);
      EXPECT_TRUE(zelko_ipc::is_valid_utf8(shown)) << shown;
      const std::size_t end = shown.rfind("'...");
      ASSERT_NE(end, std::string::npos) << shown;
      EXPECT_TRUE(text.starts_with(shown.substr(1, end - 1))) << shown;
      EXPECT_TRUE(shown.ends_with(" (" + std::to_string(text.size()) + " bytes)")) << shown;
    }
  }
}

TEST(KnownHosts, NamesOnAnSshCommandLine) {
  const std::pair<std::vector<std::string>, std::vector<std::string>> rows[] = {
      {{"ssh", "-p", "2222", "git@github.com", "true"}, {"github.com", "[github.com]:2222"}},
      {{"ssh", "-oHostKeyAlias=alias", "-l", "u", "host", "cmd"}, {"alias", "host"}},
      {{"ssh", "-o", "port=22", "-A", "-J", "jump", "target"}, {"target"}},
      {{"ssh", "ssh://u@h:2200"}, {"h", "[h]:2200"}},
      {{"ssh-keygen", "-Y", "sign"}, {}},
  };
  for (const auto& [arguments, names] : rows) {
    EXPECT_EQ(host_names_on_command_line(arguments), names) << arguments.back();
  }
}

}  // namespace
}  // namespace derodi_sim
