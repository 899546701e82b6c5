// SPDX-License-Identifier: MIT
// The bash completion, driven the way bash drives it.

#include <unistd.h>

#include "cli_fixture.hpp"

namespace zelko_test {
namespace {

class BashCompletion : public CliTest {
 protected:
  // Completes the last of `words` (the program first) and returns the
  // candidates, one per line.
  std::string complete(const std::vector<std::string>& words) {
    std::string script = "source '" ZELKO_COMPLETIONS_DIR "/zelko-cli.bash'; COMP_WORDS=(";
    for (const std::string& word : words) {
      script += "'" + word + "' ";
    }
    script += "); COMP_CWORD=" + std::to_string(words.size() - 1) +
              "; _zelko_cli; printf '%s\\n' \"${COMPREPLY[@]}\"";
    const RunResult result = run_program(
        "/bin/bash", {"-c", script}, {"XDG_RUNTIME_DIR=" + runtime.path(), "PATH=/usr/bin:/bin"});
    EXPECT_EQ(result.err, "");
    return result.status == 0 ? result.out : "(failed)";
  }
};

TEST_F(BashCompletion, CommandsAndFlags) {
  const std::string cli = cli_path();
  EXPECT_EQ(complete({cli, ""}),
            "status\nkeys\ngetpub\nfingerprint\ndevices\nauthorize\ngenerate\nsetup\nhelp\n"
            "--help\n-h\n--version\n-V\n");
  EXPECT_EQ(complete({cli, "ge"}), "getpub\ngenerate\n");
  EXPECT_EQ(complete({cli, "keys", "--"}), "--long\n--json\n");
  // A flag already given is not offered again.
  EXPECT_EQ(complete({cli, "keys", "--long", ""}), "--json\n");
  EXPECT_EQ(complete({cli, "keys", "--json", "--long", ""}), "\n");
  EXPECT_EQ(complete({cli, "generate", "--name", "--type", ""}), "--type\n--bits\n");
  EXPECT_EQ(complete({cli, "authorize", ""}), "--minutes\n");
  EXPECT_EQ(complete({cli, "generate", ""}), "--type\n--bits\n--name\n");
  EXPECT_EQ(complete({cli, "generate", "--type", ""}), "ed25519\nrsa\n");
  EXPECT_EQ(complete({cli, "generate", "--name", "k", "--type", "r"}), "rsa\n");
  EXPECT_EQ(complete({cli, "generate", "--name", ""}), "\n");
  EXPECT_EQ(complete({cli, "setup", ""}), "--undo\n");
  EXPECT_EQ(complete({cli, "getpub", "work", ""}), "--out\n");
}

TEST_F(BashCompletion, KeyNamesComeFromTheDaemon) {
  answer("keys\nwork\ted\tf\tc\tok\nwork laptop\ted\tf\tc\tok\ngithub\ted\tf\tc\tok");
  const std::string cli = cli_path();
  EXPECT_EQ(complete({cli, "getpub", ""}), "work\nwork laptop\ngithub\n");
  EXPECT_EQ(complete({cli, "fingerprint", "wo"}), "work\nwork laptop\n");
}

TEST_F(BashCompletion, NothingWhenTheDaemonIsNotRunning) {
  EXPECT_EQ(complete({cli_path(), "getpub", ""}), "\n");
  answer("keys");
  EXPECT_EQ(complete({cli_path(), "fingerprint", ""}), "\n");
}

TEST_F(BashCompletion, FilesAfterOut) {
  write_file(runtime / "id.pub", "");
  write_file(runtime / "notes.txt", "");
  EXPECT_EQ(complete({cli_path(), "getpub", "work", "--out", runtime / "id"}),
            runtime / "id.pub\n");
}

// The fish completion, asked the way fish asks it.
TEST(FishCompletion, FirstWordsAndFlagsGivenOnce) {
  const std::string fish = find_on_path("fish");
  if (fish.empty()) {
    GTEST_SKIP() << "fish is not installed";
  }
  // fish keeps its history and settings under HOME: this test's own.
  const TempDir home;
  const auto complete = [&](const std::string& line) {
    const RunResult result =
        run_program(fish,
                    {"--no-config", "-c",
                     "source '" ZELKO_COMPLETIONS_DIR "/zelko-cli.fish'; complete --do-complete='" +
                         line + "' | string replace -r '\\t.*' ''; true"},
                    {"PATH=/usr/bin:/bin", "HOME=" + home.path()});
    return result.status == 0 ? result.out : "(failed: " + result.err + ")";
  };
  const std::string first = complete("zelko-cli ");
  for (const char* word : {"status\n", "--help\n", "-h\n", "--version\n", "-V\n"}) {
    EXPECT_NE(first.find(word), std::string::npos) << word << " in " << first;
  }
  EXPECT_EQ(complete("zelko-cli keys --long "), "--json\n");
  EXPECT_EQ(complete("zelko-cli generate --name k "), "--bits\n--type\n");
}

}  // namespace
}  // namespace zelko_test
