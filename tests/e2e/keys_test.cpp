// SPDX-License-Identifier: MIT
#include <cstdlib>

#include "cli_fixture.hpp"
#include "zelko/ipc/record.hpp"

namespace zelko_test {
namespace {

class Keys : public CliTest {};

constexpr std::string_view k_two_keys =
    "keys\n"
    "work\tssh-ed25519\tSHA256:abc\twork@laptop\tok\n"
    "\n"
    "legacy\tssh-rsa\tSHA256:def\t\tSTALE\n";

TEST_F(Keys, ThreeForms) {
  answer(k_two_keys);
  EXPECT_RUN(run({"keys"}), "work\tssh-ed25519\nlegacy\tssh-rsa\n", "", 0);
  EXPECT_RUN(run({"keys", "--long"}),
             "work\tssh-ed25519\tSHA256:abc\tok\nlegacy\tssh-rsa\tSHA256:def\tSTALE\n", "", 0);
  const std::string json =
      "[\n"
      "  {\n"
      "    \"name\": \"work\",\n"
      "    \"algorithm\": \"ssh-ed25519\",\n"
      "    \"fingerprint\": \"SHA256:abc\",\n"
      "    \"comment\": \"work@laptop\",\n"
      "    \"state\": \"ok\"\n"
      "  },\n"
      "  {\n"
      "    \"name\": \"legacy\",\n"
      "    \"algorithm\": \"ssh-rsa\",\n"
      "    \"fingerprint\": \"SHA256:def\",\n"
      "    \"comment\": \"\",\n"
      "    \"state\": \"STALE\"\n"
      "  }\n"
      "]\n";
  EXPECT_RUN(run({"keys", "--json"}), json, "", 0);
  EXPECT_RUN(run({"keys", "--long", "--json"}), json, "", 0);
  EXPECT_RUN(run({"keys", "--json", "--long"}), json, "", 0);
  EXPECT_EQ(received(),
            frame("keys") + frame("keys") + frame("keys") + frame("keys") + frame("keys"));
}

TEST_F(Keys, EmptyList) {
  answer("keys\n\n");
  EXPECT_RUN(run({"keys"}), "no keys\n", "", 0);
  EXPECT_RUN(run({"keys", "--long"}), "no keys\n", "", 0);
  EXPECT_RUN(run({"keys", "--json"}), "[\n]\n", "", 0);
}

TEST_F(Keys, SingleKeyHasNoTrailingComma) {
  answer("keys\nk\ta\tf\tc\ts");
  EXPECT_RUN(
      run({"keys", "--json"}),
      "[\n  {\n    \"name\": \"k\",\n    \"algorithm\": \"a\",\n    \"fingerprint\": \"f\",\n"
      "    \"comment\": \"c\",\n    \"state\": \"s\"\n  }\n]\n",
      "", 0);
}

TEST_F(Keys, AwkwardCharactersRawInTextAndEscapedInJson) {
  // name: quotation mark, backslash, tab, U+0001; comment: accents and an emoji.
  answer("keys\nq\"b\\\\t\\t\x01\ted\t\t\xc3\xa9t\xc3\xa9 \xf0\x9f\x94\x91\t");
  EXPECT_RUN(run({"keys"}), "q\"b\\t\t\x01\ted\n", "", 0);
  EXPECT_RUN(run({"keys", "--long"}), "q\"b\\t\t\x01\ted\t\t\n", "", 0);
  EXPECT_RUN(
      run({"keys", "--json"}),
      "[\n  {\n    \"name\": \"q\\\"b\\\\t\\t\\u0001\",\n    \"algorithm\": \"ed\",\n"
      "    \"fingerprint\": \"\",\n    \"comment\": \"\xc3\xa9t\xc3\xa9 \xf0\x9f\x94\x91\",\n"
      "    \"state\": \"\"\n  }\n]\n",
      "", 0);
}

// Every character below U+0020, DEL, the line and paragraph separators and
// other non-ASCII text survive a round trip through a real JSON parser.
TEST_F(Keys, JsonParsesWithARealParser) {
  std::string awkward;
  for (char c = 1; c < 0x20; ++c) {
    awkward.push_back(c);
  }
  awkward += "\x7f\"\\/\xe2\x80\xa8\xe2\x80\xa9\xc2\x85\xc3\xa9\xf0\x9f\x94\x91";
  const std::string escaped = zelko_ipc::escape(awkward);
  answer("keys\n" + escaped + "\t" + escaped + "\tf\t" + escaped + "\t\nplain\ta\tb\tc\td");
  const RunResult listing = run({"keys", "--json"});
  ASSERT_EQ(listing.status, 0);
  write_file(runtime / "keys.json", listing.out);

  // The parser writes back every value as its length, a colon and its UTF-8 bytes.
  const char* script =
      "import json,sys\n"
      "keys=json.load(open(sys.argv[1],encoding='utf-8'))\n"
      "out=sys.stdout.buffer\n"
      "for k in keys:\n"
      "  for f in ('name','algorithm','fingerprint','comment','state'):\n"
      "    b=k[f].encode('utf-8'); out.write(str(len(b)).encode()+b':'+b)\n";
  const char* path = std::getenv("PATH");
  const RunResult parsed =
      run_program("/usr/bin/env", {"python3", "-c", script, runtime / "keys.json"},
                  {std::string("PATH=") + (path ? path : "/usr/bin")});
  ASSERT_EQ(parsed.status, 0) << parsed.err;
  const std::string n = std::to_string(awkward.size()) + ":" + awkward;
  EXPECT_EQ(parsed.out, n + n + "1:f" + n + "0:" + "5:plain1:a1:b1:c1:d");
}

TEST_F(Keys, FailuresLeaveStandardOutputEmpty) {
  answer("error\nmetadata STALE");
  EXPECT_RUN(run({"keys", "--json"}), "", "zelko-cli: metadata STALE\n", 1);
  answer("devices");
  EXPECT_RUN(run({"keys"}), "", "zelko-cli: unexpected answer from the daemon\n", 1);
  answer("keys\nk\ta\tf\tc\ts\nbroken");
  EXPECT_RUN(run({"keys", "--long"}), "", "zelko-cli: control record has the wrong shape\n", 1);
}

TEST_F(Keys, ReportThatCannotBeWrittenIsAFailure) {
  answer(k_two_keys);
  const std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + runtime.path()};
  EXPECT_RUN(
      run_program("/bin/sh", {"-c", "exec \"$0\" \"$@\" > /dev/full", cli_path(), "keys"}, env), "",
      "zelko-cli: cannot write to standard output: No space left on device (os error 28)\n", 1);
  EXPECT_RUN(run_program("/bin/sh", {"-c", "exec \"$0\" \"$@\" >&-", cli_path(), "--version"}, env),
             "", "zelko-cli: cannot write to standard output: Bad file descriptor (os error 9)\n",
             1);
}

// Fields larger than the output buffer, plain and escaped, come out whole.
TEST_F(Keys, FieldsLargerThanTheOutputBuffer) {
  const std::string long_name(200000, 'n');
  const std::string controls(100000, '\x01');
  answer("keys\n" + long_name + "\ted\tf\t" + controls + "\ts");
  EXPECT_RUN(run({"keys"}), long_name + "\ted\n", "", 0);
  std::string escaped_controls;
  for (std::size_t i = 0; i < controls.size(); ++i) {
    escaped_controls += "\\u0001";
  }
  EXPECT_RUN(run({"keys", "--json"}),
             "[\n  {\n    \"name\": \"" + long_name +
                 "\",\n    \"algorithm\": \"ed\",\n"
                 "    \"fingerprint\": \"f\",\n    \"comment\": \"" +
                 escaped_controls +
                 "\",\n"
                 "    \"state\": \"s\"\n  }\n]\n",
             "", 0);
}

}  // namespace
}  // namespace zelko_test
