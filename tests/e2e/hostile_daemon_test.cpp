// SPDX-License-Identifier: MIT
// A daemon that is broken or hostile: whatever it sends, the client ends
// with a report or one clear message, and never hangs past the protocol.

#include "cli_fixture.hpp"

namespace zelko_test {
namespace {

class HostileDaemon : public CliTest {};

// `before + text + after`, built by appending: g++ 12 at -O3 warns falsely
// about overlapping copies in `"literal" + std::string&&`.
std::string around(std::string_view before, const std::string& text, std::string_view after) {
  std::string result(before);
  return result.append(text).append(after);
}

TEST_F(HostileDaemon, AnswerOfExactlyTheLimitIsRead) {
  // 10,288 keys of 101 bytes, padded with blank lines to exactly 1 MiB.
  std::string body = "keys";
  std::string expected;
  for (int i = 0; i < 10288; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "key-%05d", i);
    body.append("\n").append(name).append("\tssh-ed25519\tSHA256:").append(43, 'A');
    body.append("\tcomment-").append(std::to_string(i % 10)).append("\tok");
    expected += std::string(name) + "\tssh-ed25519\n";
  }
  ASSERT_LE(body.size(), 1u << 20);
  body.resize(1u << 20, '\n');
  serve({frame(body)});
  const RunResult listing = run({"keys"});
  EXPECT_EQ(listing.status, 0) << listing.err;
  EXPECT_EQ(listing.out, expected);

  body.push_back('\n');
  serve({frame(body)});
  EXPECT_RUN(run({"keys"}), "", "zelko-cli: the daemon sent an oversized answer\n", 1);
}

TEST_F(HostileDaemon, SlowDripOfAHeaderAndBody) {
  serve({.reply = frame("devices\nphone\tnear\tactive"), .drip = std::chrono::milliseconds(3)});
  EXPECT_RUN(run({"devices"}), "phone\tnear\tactive\n", "", 0);
}

TEST_F(HostileDaemon, ControlTextsPassThroughPipesUnchanged) {
  serve(
      {frame("devices\n\x1b[31mred\x1b[0m\t\xe2\x80\xae"
             "evil\tactive")});
  EXPECT_RUN(run({"devices"}),
             "\x1b[31mred\x1b[0m\t\xe2\x80\xae"
             "evil\tactive\n",
             "", 0);
}

// Long, empty, undecodable and odd arguments for every command end with
// exit status 1, the right message, and no connection.
TEST_F(HostileDaemon, HostileArgumentsNeverConnect) {
  answer("status\na\tb\tc\td\te");
  const std::string long_text(100000, '9');
  const std::string long_word(100000, 'x');
  struct Row {
    std::vector<std::string> arguments;
    std::string message;
  };
  const Row rows[] = {
      {{long_word}, around("unknown command '", long_word, "'; try --help")},
      {{"status", long_word}, "unknown command 'status'; try --help"},
      {{"keys", long_word}, around("unknown flag '", long_word, "'")},
      {{"getpub", long_word, long_word}, "usage: zelko-cli getpub NAME [--out FILE]"},
      {{"fingerprint", "", ""}, "unknown command 'fingerprint'; try --help"},
      {{"authorize", "--minutes", long_text},
       around("'", long_text, "' is not a number of minutes")},
      {{"authorize", "--minutes", std::string(100000, '0')},
       "a window of zero minutes would authorize nothing"},
      {{"authorize", "--minutes", "\t"}, "'\t' is not a number of minutes"},
      {{"authorize", "--minutes", "\xd9\xa1"}, "'\xd9\xa1' is not a number of minutes"},
      {{"generate", "--bits", long_text, "--name", "k"},
       around("'", long_text, "' is not a key size")},
      {{"generate", "--name", std::string(1000, ' ')}, "a generated key needs a name"},
      {{"generate", "--name", "k", long_word}, around("'", long_word, "' is missing a value")},
      {{"generate", "", ""}, "unknown flag ''"},
      {{"setup", long_word},
       around("unknown flag '", long_word, "'; usage: zelko-cli setup [--undo]")},
      {{"pair", long_word},
       "pairing needs the radio directly; run 'derodi pair' with the daemon stopped"},
      {{"devices", "\xff\xfe"}, "argument '\xef\xbf\xbd\xef\xbf\xbd' is not valid UTF-8"},
      {{"generate", "--name", "k\xed\xa0\x80"},
       "argument 'k\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd' is not valid UTF-8"},
      {{"fingerprint", "\xc3"}, "argument '\xef\xbf\xbd' is not valid UTF-8"},
  };
  for (const Row& row : rows) {
    const RunResult result = run(row.arguments);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "zelko-cli: " + row.message + "\n") << row.arguments[0];
    EXPECT_EQ(result.status, 1);
  }
  EXPECT_EQ(connections(), 0);
}

}  // namespace
}  // namespace zelko_test
