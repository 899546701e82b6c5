// SPDX-License-Identifier: MIT
// The front end: usage, version, the command table and argument errors,
// none of which may contact the daemon.

#include <algorithm>

#include "cli_fixture.hpp"
#include "zelko/version.hpp"

namespace zelko_test {
namespace {

class FrontEnd : public CliTest {
 protected:
  void SetUp() override { answer("status\na\tb\tc\td\te"); }
};

TEST_F(FrontEnd, UsageText) {
  const RunResult result = run({});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  const std::string& usage = result.out;
  // 1351 bytes for a version of five characters.
  EXPECT_EQ(usage.size(), 1346 + std::string_view(ZELKO_CLI_VERSION).size());
  EXPECT_EQ(std::count(usage.begin(), usage.end(), '\n'), 26);
  EXPECT_TRUE(usage.starts_with("zelko-cli " ZELKO_CLI_VERSION
                                " \xe2\x80\x94 talk to the Zelko daemon\n\nUSAGE:\n"));
  EXPECT_TRUE(usage.ends_with("'status' says where it points\n\n"));
  // Descriptions start at the 41st character; continuation lines hold 40 spaces.
  for (const std::string_view line :
       {"    zelko-cli status                    Endpoint, phone, metadata, active window\n",
        "    zelko-cli getpub NAME --out FILE    ...write it to a file instead\n",
        "    zelko-cli authorize --minutes N     Ask the phone for an authorization window\n",
        "    zelko-cli generate --type rsa --bits 4096 --name NAME\n",
        "                                        Generate a key on the phone\n",
        "                                        shells and start derodi at logon\n",
        "    SSH_AUTH_SOCK      Which agent ssh uses; 'status' says where it points\n",
        "                       macOS it overrides the per-user temporary directory)\n",
        "Pairing needs the radio directly and is done with 'derodi pair'.\n"}) {
    EXPECT_NE(usage.find(line), std::string::npos) << line;
  }
  for (const char* word : {"help", "--help", "-h"}) {
    EXPECT_RUN(run({word}), usage, "", 0);
  }
  EXPECT_EQ(connections(), 0);
}

TEST_F(FrontEnd, Version) {
  EXPECT_RUN(run({"--version"}), "zelko-cli " ZELKO_CLI_VERSION "\n", "", 0);
  EXPECT_RUN(run({"-V"}), "zelko-cli " ZELKO_CLI_VERSION "\n", "", 0);
  EXPECT_EQ(connections(), 0);
}

TEST_F(FrontEnd, ArgumentErrorsNeverReachTheDaemon) {
  struct Row {
    std::vector<std::string> arguments;
    std::string message;
  };
  const Row rows[] = {
      {{"help", "status"}, "unknown command 'help'; try --help"},
      {{"--help", "x"}, "unknown command '--help'; try --help"},
      {{"-h", "-h"}, "unknown command '-h'; try --help"},
      {{"--version", "x"}, "unknown command '--version'; try --help"},
      {{"-V", ""}, "unknown command '-V'; try --help"},
      {{"version"}, "unknown command 'version'; try --help"},
      {{"status", "x"}, "unknown command 'status'; try --help"},
      {{"devices", "--long"}, "unknown command 'devices'; try --help"},
      {{"Status"}, "unknown command 'Status'; try --help"},
      {{""}, "unknown command ''; try --help"},
      {{"--status"}, "unknown command '--status'; try --help"},
      {{"getpub"}, "unknown command 'getpub'; try --help"},
      {{"fingerprint"}, "unknown command 'fingerprint'; try --help"},
      {{"fingerprint", "a", "b"}, "unknown command 'fingerprint'; try --help"},
      {{"keys", "--long", "-l"}, "unknown flag '-l'"},
      {{"keys", "--LONG"}, "unknown flag '--LONG'"},
      {{"keys", "--json=1"}, "unknown flag '--json=1'"},
      {{"keys", "--long", "--json", "x", "--bad"}, "unknown flag 'x'"},
      {{"keys", ""}, "unknown flag ''"},
      {{"getpub", "k", "--out"}, "usage: zelko-cli getpub NAME [--out FILE]"},
      {{"getpub", "k", "-o", "f"}, "usage: zelko-cli getpub NAME [--out FILE]"},
      {{"getpub", "k", "--OUT", "f"}, "usage: zelko-cli getpub NAME [--out FILE]"},
      {{"getpub", "k", "--out", "f", "x"}, "usage: zelko-cli getpub NAME [--out FILE]"},
      {{"pair"}, "pairing needs the radio directly; run 'derodi pair' with the daemon stopped"},
      {{"pair", "--now"},
       "pairing needs the radio directly; run 'derodi pair' with the daemon stopped"},
      {{"keys", "\xff"}, "argument '\xef\xbf\xbd' is not valid UTF-8"},
      {{"status\xc3"}, "argument 'status\xef\xbf\xbd' is not valid UTF-8"},
      {{"getpub", "a\xe2\x80z"}, "argument 'a\xef\xbf\xbdz' is not valid UTF-8"},
      {{"authorize", "--minutes", "\xc0\xaf"},
       "argument '\xef\xbf\xbd\xef\xbf\xbd' is not valid UTF-8"},
  };
  for (const Row& row : rows) {
    EXPECT_RUN(run(row.arguments), "", "zelko-cli: " + row.message + "\n", 1);
  }
  EXPECT_EQ(connections(), 0);
}

TEST_F(FrontEnd, KeysFlagsAreReadInAnyOrderAndRepeated) {
  answer("keys");
  EXPECT_RUN(run({"keys", "--json", "--long", "--json"}), "[\n]\n", "", 0);
  EXPECT_EQ(received(), frame("keys"));
}

TEST_F(FrontEnd, EmptyNamesArePassedOn) {
  answer("pubkey\nssh-ed25519 AAAA");
  EXPECT_RUN(run({"getpub", ""}), "ssh-ed25519 AAAA\n", "", 0);
  EXPECT_EQ(received(), frame("getpub\n"));
}

}  // namespace
}  // namespace zelko_test
