// SPDX-License-Identifier: MIT
// On a terminal, foreign text cannot take over the screen; on pipes and
// files every byte stays exact.

#include <cstdlib>

#include "cli_fixture.hpp"
#include "zelko/version.hpp"

namespace zelko_test {
namespace {

class Terminal : public CliTest {
 protected:
  RunResult on_terminal(const std::vector<std::string>& arguments, Terminals terminals) {
    RunResult result =
        run_program(cli_path(), arguments, {"XDG_RUNTIME_DIR=" + runtime.path()}, 20, terminals);
    daemon->wait_idle();
    return result;
  }
};

// A name that retitles the window, a comment that clears the screen and
// reverses the text after it, a state with a C1 control sequence introducer.
constexpr std::string_view k_hostile_keys =
    "keys\nwork\x1b]0;owned\x07\ted\\\\25519\tSHA256:a\x7f\tc\x1b[2J\xe2\x80\xaev\ts\xc2\x9b"
    "31m";

TEST_F(Terminal, ListingsOnATerminalShowEscapes) {
  answer(k_hostile_keys);
  EXPECT_RUN(on_terminal({"keys"}, {.out = true}), "work\\x1b]0;owned\\x07\ted\\\\25519\n", "", 0);
  EXPECT_RUN(on_terminal({"keys", "--long"}, {.out = true}),
             "work\\x1b]0;owned\\x07\ted\\\\25519\tSHA256:a\\x7f\ts\\u{9b}31m\n", "", 0);
  EXPECT_RUN(on_terminal({"fingerprint", "work\x1b]0;owned\x07"}, {.out = true}),
             "SHA256:a\\x7f work\\x1b]0;owned\\x07\n", "", 0);
}

TEST_F(Terminal, PipesGetEveryByteUnchanged) {
  answer(k_hostile_keys);
  EXPECT_RUN(on_terminal({"keys", "--long"}, {.err = true}),
             "work\x1b]0;owned\x07\ted\\25519\tSHA256:a\x7f\ts\xc2\x9b"
             "31m\n",
             "", 0);
}

TEST_F(Terminal, JsonOnATerminalIsStillTheSameJson) {
  answer(k_hostile_keys);
  const RunResult shown = on_terminal({"keys", "--json"}, {.out = true});
  ASSERT_EQ(shown.status, 0);
  EXPECT_NE(shown.out.find(R"("comment": "c\u001b[2J\u202ev")"), std::string::npos) << shown.out;
  EXPECT_EQ(shown.out.find('\x1b'), std::string::npos);
  const RunResult piped = run({"keys", "--json"});

  // Both parse to the same values.
  write_file(runtime / "shown.json", shown.out);
  write_file(runtime / "piped.json", piped.out);
  const char* path = std::getenv("PATH");
  const RunResult same = run_program(
      "/usr/bin/env",
      {"python3", "-c",
       "import json,sys; a,b=(json.load(open(p,encoding='utf-8')) for p in sys.argv[1:]); "
       "sys.exit(0 if a==b and a[0]['state']=='s\\x9b31m' else 1)",
       runtime / "shown.json", runtime / "piped.json"},
      {std::string("PATH=") + (path ? path : "/usr/bin")});
  EXPECT_EQ(same.status, 0) << same.err;
}

TEST_F(Terminal, DaemonTextsOnStandardError) {
  answer("error\nlocked\x1b[8mhidden\\n\xe2\x81\xa6next");
  EXPECT_RUN(on_terminal({"status"}, {.err = true}), "",
             "zelko-cli: locked\\x1b[8mhidden\\n\\u{2066}next\n", 1);
  EXPECT_RUN(on_terminal({"status"}, {}), "", "zelko-cli: locked\x1b[8mhidden\n\xe2\x81\xa6next\n",
             1);

  answer("generated\nssh-ed25519 AAAA\x1b[1A\tSHA256:x\x07\tk\x1b[K");
  EXPECT_RUN(on_terminal({"generate", "--name", "k"}, {.out = true, .err = true}),
             "ssh-ed25519 AAAA\\x1b[1A\n",
             "approve the request on the phone...\ngenerated 'k\\x1b[K'  SHA256:x\\x07\n", 0);
}

// A field cannot forge a line or a column of the report on a terminal.
TEST_F(Terminal, OneRecordPerLine) {
  answer("status\n/run/a.sock\tpixel\\nwindow          all\tfresh\t\t");
  const std::string rest =
      "window          all\nmetadata        fresh\nwindow          none active\n";
  EXPECT_EQ(on_terminal({"status"}, {.out = true}).out,
            "agent endpoint  /run/a.sock\nthis shell      no agent (SSH_AUTH_SOCK is not set)\n"
            "phone           pixel\\n" +
                rest);
  EXPECT_NE(run({"status"}).out.find("phone           pixel\n" + rest), std::string::npos);

  answer("keys\nwork\\tlaptop\ted\\n25519\tf\tc\ts\xe2\x80\xa8");
  EXPECT_RUN(on_terminal({"keys", "--long"}, {.out = true}),
             "work\\tlaptop\ted\\n25519\tf\ts\\u{2028}\n", "", 0);
  EXPECT_EQ(run({"keys", "--long"}).out, "work\tlaptop\ted\n25519\tf\ts\xe2\x80\xa8\n");
}

// Fields far larger than the output buffer are escaped piece by piece,
// never cut inside a character or an escape.
TEST_F(Terminal, LongFieldsKeepEveryEscape) {
  std::string name;
  std::string shown;
  std::string json;
  for (int i = 0; i < 30000; ++i) {
    name += "\xe2\x80\xae\xe2\x80\xae\x01\xc3\xa9\"";
    shown += "\\u{202e}\\u{202e}\\x01\xc3\xa9\"";
    json += "\xe2\x80\xae\xe2\x80\xae\\u0001\xc3\xa9\\\"";
  }
  answer("keys\n" + name + "\ted\tf\tc\ts");
  EXPECT_EQ(on_terminal({"keys"}, {.out = true}).out, shown + "\ted\n");
  const RunResult piped = run({"keys", "--json"});
  EXPECT_NE(piped.out.find("\"name\": \"" + json + "\",\n"), std::string::npos);
}

TEST_F(Terminal, OwnTextsAreUnchanged) {
  answer("error\nno trusted destination\\\\here");
  EXPECT_RUN(on_terminal({"authorize", "--minutes", "5"}, {.out = true, .err = true}), "",
             "asking the phone; choose the scope there...\n"
             "zelko-cli: no trusted destination\\\\here\n\nA window can only cover destinations "
             "you have confirmed deliberately (spec §23), which is why approving a "
             "signature is not enough on its own.\n",
             1);
  EXPECT_EQ(on_terminal({"--version"}, {.out = true}).out, "zelko-cli " ZELKO_CLI_VERSION "\n");
}

}  // namespace
}  // namespace zelko_test
