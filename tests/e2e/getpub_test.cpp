// SPDX-License-Identifier: MIT
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdlib>
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

std::size_t entries(const std::string& directory) {
  return static_cast<std::size_t>(
      std::distance(std::filesystem::directory_iterator(directory), {}));
}

// The file is opened as a shell's ">" opens it and stays the same file: its
// inode, mode, links and attributes; and a link leads where it leads.
TEST_F(GetPub, WritesIntoTheSameFile) {
  answer("pubkey\nssh-ed25519 AAAA k");
  write_file(file(), "an old key line, longer than the new one\n");
  ASSERT_EQ(::chmod(file().c_str(), 0640), 0);
  const std::string hard = runtime / "hard.pub";
  const std::string soft = runtime / "soft.pub";
  ASSERT_EQ(::link(file().c_str(), hard.c_str()), 0);
  ASSERT_EQ(::symlink(file().c_str(), soft.c_str()), 0);
  const bool has_xattr = ::setxattr(file().c_str(), "user.zelko", "v", 1, 0) == 0;
  struct stat before {};
  ASSERT_EQ(::stat(file().c_str(), &before), 0);

  EXPECT_RUN(run({"getpub", "k", "--out", soft}), "", "", 0);
  EXPECT_EQ(read_file(hard), "ssh-ed25519 AAAA k\n");
  struct stat after {};
  ASSERT_EQ(::stat(file().c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  char value = 0;
  EXPECT_EQ(::getxattr(file().c_str(), "user.zelko", &value, 1), has_xattr ? 1 : -1);
  EXPECT_EQ(entries(runtime.path()), 4u) << "left over";
}

// Descriptors named by path, as bash's >(...) hands them out: a pipe, and a
// file deleted while open.
TEST_F(GetPub, WritesToDevFd) {
  answer("pubkey\nssh-ed25519 AAAA k");
  const RunResult pipe =
      run_program("/bin/sh", {"-c", "exec \"$0\" getpub k --out /dev/fd/3 3>&1", cli_path()},
                  {"XDG_RUNTIME_DIR=" + runtime.path()});
  EXPECT_RUN(pipe, "ssh-ed25519 AAAA k\n", "", 0);
  const RunResult deleted = run_program(
      "/bin/sh",
      {"-c", "exec 3<>\"$1\"; rm \"$1\"; \"$0\" getpub k --out /dev/fd/3 && cat /dev/fd/3",
       cli_path(), file()},
      {"XDG_RUNTIME_DIR=" + runtime.path()});
  EXPECT_RUN(deleted, "ssh-ed25519 AAAA k\n", "", 0);
  EXPECT_EQ(entries(runtime.path()), 1u) << "left over";
}

// What the kernel refuses a shell's ">", zelko-cli is refused too: a
// write-protected file, and a link planted in a sticky world-writable
// directory by another user. Run without the power to override file
// permissions, as a root that is not the link's owner.
TEST_F(GetPub, KernelRefusalsStand) {
  if (::access("/usr/bin/setpriv", X_OK) != 0) {
    GTEST_SKIP() << "setpriv (util-linux) is not installed";
  }
  answer("pubkey\nssh-ed25519 AAAA k");
  const auto run_unprivileged = [&](const std::string& target) {
    return run_program("/usr/bin/setpriv",
                       {"--inh-caps=-all", "--bounding-set=-dac_override,-dac_read_search",
                        cli_path(), "getpub", "k", "--out", target},
                       {"XDG_RUNTIME_DIR=" + runtime.path()});
  };
  write_file(file(), "old key\n");
  ASSERT_EQ(::chmod(file().c_str(), 0444), 0);
  EXPECT_RUN(run_unprivileged(file()), "",
             "zelko-cli: cannot write " + file() + ": Permission denied (os error 13)\n", 1);
  EXPECT_EQ(read_file(file()), "old key\n");

  const std::string protection = read_file("/proc/sys/fs/protected_symlinks");
  const std::string shared = runtime / "shared";
  const std::string planted = shared + "/k.pub";
  ASSERT_EQ(::mkdir(shared.c_str(), 01777), 0);
  ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
  ASSERT_EQ(::symlink(file().c_str(), planted.c_str()), 0);
  if (::geteuid() != 0 || protection != "1\n" || ::lchown(planted.c_str(), 65534, 65534) != 0) {
    GTEST_SKIP() << "planting another user's link needs root and fs.protected_symlinks=1";
  }
  ASSERT_EQ(::chmod(file().c_str(), 0644), 0);
  EXPECT_RUN(run({"getpub", "k", "--out", planted}), "",
             "zelko-cli: cannot write " + planted + ": Permission denied (os error 13)\n", 1);
  EXPECT_EQ(read_file(file()), "old key\n");
}

// A write that fails part way (here at the file size limit) is reported;
// as with a shell's ">", the file may be left partial.
TEST_F(GetPub, AFailedWriteSaysSo) {
  answer("pubkey\nssh-rsa " + std::string(6000, 'A') + " k");
  write_file(file(), "old key\n");
  const RunResult cut = run_program(
      "/bin/bash", {"-c", "ulimit -f 4; exec \"$0\" getpub k --out \"$1\"", cli_path(), file()},
      {"XDG_RUNTIME_DIR=" + runtime.path()});
  EXPECT_RUN(cut, "", "zelko-cli: cannot write " + file() + ": File too large (os error 27)\n", 1);
  EXPECT_EQ(entries(runtime.path()), 2u) << "left over";
}

// A write that accepts nothing (injected by strace: the request is the
// first write, the file's line the second) ends the command.
TEST_F(GetPub, AWriteThatAcceptsNothing) {
  if (::access("/usr/bin/strace", X_OK) != 0 || std::getenv("ZELKO_EMULATOR") != nullptr) {
    GTEST_SKIP() << "needs strace, and the program run natively";
  }
  answer("pubkey\nssh-ed25519 AAAA k");
  const RunResult stuck =
      run_program("/usr/bin/strace",
                  {"-f", "-o", "/dev/null", "-e", "trace=write", "-e",
                   "inject=write:retval=0:when=2", cli_path(), "getpub", "k", "--out", file()},
                  // LeakSanitizer, in a build that has it, cannot work under ptrace.
                  {"XDG_RUNTIME_DIR=" + runtime.path(), "ASAN_OPTIONS=detect_leaks=0"});
  EXPECT_RUN(stuck, "", "zelko-cli: cannot write " + file() + ": failed to write whole buffer\n",
             1);
}

// A terminal named as FILE gets the line shown safely, as standard output
// on a terminal does.
TEST_F(GetPub, ATerminalGetsTheLineEscaped) {
  answer("pubkey\nssh-ed25519 AAAA k\x1b]0;owned\x07\x1b[2J\xe2\x80\xae\xc2\x9b");
  const RunResult shown = run_program(cli_path(), {"getpub", "k", "--out", "/dev/stdout"},
                                      {"XDG_RUNTIME_DIR=" + runtime.path()}, 20, {.out = true});
  EXPECT_RUN(shown, "ssh-ed25519 AAAA k\\x1b]0;owned\\x07\\x1b[2J\\u{202e}\\u{9b}\n", "", 0);
}

}  // namespace
}  // namespace zelko_test
