// SPDX-License-Identifier: MIT
#include "cli_fixture.hpp"

namespace zelko_test {
namespace {

class Fingerprint : public CliTest {};

constexpr std::string_view k_keys =
    "keys\n"
    "laptop\ted\tSHA256:one\tbackup\tok\n"
    "x2\ted\tSHA256:two\tx\tok\n"
    "x\ted\tSHA256:three\t\tok\n"
    "work\ted\tSHA256:four\tw\tok\n"
    "work\ted\tSHA256:five\tw\tok\n";

TEST_F(Fingerprint, MatchingRules) {
  struct Row {
    std::string name;
    std::string out;
  };
  const Row rows[] = {
      {"laptop", "SHA256:one laptop\n"},
      {"backup", "SHA256:one laptop\n"},  // by comment, printed with the key's name
      {"x", "SHA256:two x2\n"},           // an earlier comment beats a later name
      {"work", "SHA256:four work\n"},     // the first of two equal names
      {"", "SHA256:three x\n"},           // the first empty comment
  };
  for (const Row& row : rows) {
    answer(k_keys);
    EXPECT_RUN(run({"fingerprint", row.name}), row.out, "", 0);
    EXPECT_EQ(received(), frame("keys"));
  }
}

TEST_F(Fingerprint, NoMatch) {
  for (const std::string name : {"Work", "work ", "wor", "SHA256:one", "ed"}) {
    answer(k_keys);
    EXPECT_RUN(run({"fingerprint", name}), "", "zelko-cli: no key named '" + name + "'\n", 1);
  }
  answer("keys");
  EXPECT_RUN(run({"fingerprint", ""}), "", "zelko-cli: no key named ''\n", 1);
}

TEST_F(Fingerprint, DaemonErrorsUnchanged) {
  answer("error\nmetadata STALE");
  EXPECT_RUN(run({"fingerprint", "k"}), "", "zelko-cli: metadata STALE\n", 1);
  answer("error");
  EXPECT_RUN(run({"fingerprint", "k"}), "", "zelko-cli: \n", 1);
  answer("pubkey\nk");
  EXPECT_RUN(run({"fingerprint", "k"}), "", "zelko-cli: unexpected answer from the daemon\n", 1);
}

}  // namespace
}  // namespace zelko_test
