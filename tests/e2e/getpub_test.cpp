// SPDX-License-Identifier: MIT
#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>

#include "cli_fixture.hpp"

namespace zelko_test {
namespace {

class GetPub : public CliTest {
 protected:
  std::string file() const { return runtime / "id.pub"; }
};

constexpr std::string_view k_refresh_hint =
    "\n\nConnect your Zelko phone to refresh the key database.";

TEST_F(GetPub, PrintsTheLineWithOneNewline) {
  answer("pubkey\nssh-ed25519 AAAAC3 work@laptop");
  EXPECT_RUN(run({"getpub", "work"}), "ssh-ed25519 AAAAC3 work@laptop\n", "", 0);
  EXPECT_EQ(received(), frame("getpub\nwork"));
}

TEST_F(GetPub, NameIsSentEscaped) {
  answer("pubkey\nk");
  EXPECT_RUN(run({"getpub", "a\tb\nc\\d"}), "k\n", "", 0);
  EXPECT_EQ(received(), frame("getpub\na\\tb\\nc\\\\d"));
}

TEST_F(GetPub, TextIsNeverTrimmed) {
  answer("pubkey\nssh-rsa AAAA\\n");
  EXPECT_RUN(run({"getpub", "k"}), "ssh-rsa AAAA\n\n", "", 0);
  ASSERT_TRUE(run({"getpub", "k", "--out", file()}).status == 0);
  EXPECT_EQ(read_file(file()), "ssh-rsa AAAA\n\n");
}

TEST_F(GetPub, RefreshHint) {
  struct Row {
    std::string reply_body;
    std::string message;
  };
  const Row rows[] = {
      {"error\nkey metadata is STALE", "key metadata is STALE" + std::string(k_refresh_hint)},
      {"error\nkeys never synchronised", "keys never synchronised" + std::string(k_refresh_hint)},
      {"error\nSTALE and never synchronised",
       "STALE and never synchronised" + std::string(k_refresh_hint)},
      {"error\nkey metadata is stale", "key metadata is stale"},
      {"error\nNever Synchronised", "Never Synchronised"},
      {"error\nno key named k", "no key named k"},
      {"keys", "unexpected answer from the daemon"},
  };
  for (const Row& row : rows) {
    answer(row.reply_body);
    EXPECT_RUN(run({"getpub", "k"}), "", "zelko-cli: " + row.message + "\n", 1);
  }
}

TEST_F(GetPub, ExchangeFailuresGetTheHintToo) {
  const std::string stale_dir = runtime / "STALE";
  EXPECT_RUN(run_program(cli_path(), {"getpub", "k"}, {"XDG_RUNTIME_DIR=" + stale_dir}), "",
             "zelko-cli: cannot reach derodi at " + stale_dir +
                 "/zelko/control.sock: No such file or directory (os error 2)\n"
                 "is the daemon running?" +
                 std::string(k_refresh_hint) + "\n",
             1);
}

TEST_F(GetPub, WritesTheFileAndNothingElse) {
  ::umask(022);
  answer("pubkey\nssh-ed25519 AAAA k");
  EXPECT_RUN(run({"getpub", "k", "--out", file()}), "", "", 0);
  EXPECT_EQ(read_file(file()), "ssh-ed25519 AAAA k\n");
  struct stat info {};
  ASSERT_EQ(::stat(file().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);

  // An existing file is truncated, whatever it held.
  write_file(file(), std::string(5000, 'x'));
  answer("pubkey\nshort");
  EXPECT_RUN(run({"getpub", "k", "--out", file()}), "", "", 0);
  EXPECT_EQ(read_file(file()), "short\n");
}

TEST_F(GetPub, FileThatCannotBeWritten) {
  answer("pubkey\nssh-ed25519 AAAA k");
  const std::string missing = runtime / "no/such/dir/id.pub";
  EXPECT_RUN(run({"getpub", "k", "--out", missing}), "",
             "zelko-cli: cannot write " + missing + ": No such file or directory (os error 2)\n",
             1);
  EXPECT_FALSE(std::filesystem::exists(runtime / "no"));
  EXPECT_RUN(run({"getpub", "k", "--out", "/dev/full"}), "",
             "zelko-cli: cannot write /dev/full: No space left on device (os error 28)\n", 1);
  EXPECT_RUN(run({"getpub", "k", "--out", ""}), "",
             "zelko-cli: cannot write : No such file or directory (os error 2)\n", 1);
}

TEST_F(GetPub, FileIsUntouchedUnlessAKeyArrives) {
  write_file(file(), "precious\n");
  const timespec old_time[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, file().c_str(), old_time, 0), 0);
  for (const char* body : {"error\nrefused on the phone", "keys", "pubkey"}) {
    answer(body);
    EXPECT_EQ(run({"getpub", "k", "--out", file()}).status, 1) << body;
    EXPECT_EQ(read_file(file()), "precious\n");
    struct stat info {};
    ASSERT_EQ(::stat(file().c_str(), &info), 0);
    EXPECT_EQ(info.st_mtim.tv_sec, 1000000000);
  }
  // A refused export never creates the file either.
  answer("error\nno");
  EXPECT_EQ(run({"getpub", "k", "--out", runtime / "new.pub"}).status, 1);
  EXPECT_FALSE(std::filesystem::exists(runtime / "new.pub"));
}

// A file is replaced whole, and stays what it was: its mode, a link to it.
TEST_F(GetPub, ReplacesTheFileWhole) {
  answer("pubkey\nssh-ed25519 AAAA k");
  write_file(file(), "old key\n");
  ASSERT_EQ(::chmod(file().c_str(), 0640), 0);
  const std::string link = runtime / "link.pub";
  ASSERT_EQ(::symlink(file().c_str(), link.c_str()), 0);
  EXPECT_RUN(run({"getpub", "k", "--out", link}), "", "", 0);
  EXPECT_EQ(read_file(file()), "ssh-ed25519 AAAA k\n");
  struct stat info {};
  ASSERT_EQ(::lstat(link.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  ASSERT_EQ(::stat(file().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(runtime.path()), {}), 3)
      << "left over";

  // What is not a plain file is written as it is: a pipe, a redirected stream.
  EXPECT_RUN(run({"getpub", "k", "--out", "/dev/stdout"}), "ssh-ed25519 AAAA k\n", "", 0);
  const std::string redirected = runtime / "redirected";
  const RunResult into_file = run_program(
      "/bin/sh", {"-c", "exec \"$0\" getpub k --out /dev/stdout > \"$1\"", cli_path(), redirected},
      {"XDG_RUNTIME_DIR=" + runtime.path()});
  EXPECT_EQ(into_file.status, 0) << into_file.err;
  EXPECT_EQ(read_file(redirected), "ssh-ed25519 AAAA k\n");
}

// A write cut short (here by the file size limit) leaves the old file as it was.
TEST_F(GetPub, CutShortWriteLeavesTheOldFile) {
  answer("pubkey\nssh-rsa " + std::string(6000, 'A') + " k");
  write_file(file(), "old key\n");
  const RunResult cut = run_program(
      "/bin/bash", {"-c", "ulimit -f 4; exec \"$0\" getpub k --out \"$1\"", cli_path(), file()},
      {"XDG_RUNTIME_DIR=" + runtime.path()});
  daemon->wait_idle();
  EXPECT_RUN(cut, "", "zelko-cli: cannot write " + file() + ": File too large (os error 27)\n", 1);
  EXPECT_EQ(read_file(file()), "old key\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(runtime.path()), {}), 2)
      << "left over";
}

}  // namespace
}  // namespace zelko_test
