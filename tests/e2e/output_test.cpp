// SPDX-License-Identifier: MIT
// How the client treats its standard output: one write for a report that
// fits its buffer, a reader that cannot keep up waited for, a reader that
// goes away left without a word.

#include "cli_fixture.hpp"

namespace zelko_test {
namespace {

class Output : public CliTest {
 protected:
  RunResult run_with(const std::vector<std::string>& arguments, OutputPlan plan) {
    RunResult result =
        run_program(cli_path(), arguments, {"XDG_RUNTIME_DIR=" + runtime.path()}, 20, {}, plan);
    daemon->wait_idle();
    return result;
  }

  // Serves about 1 MiB of keys, far more than a pipe holds, and returns
  // their plain listing.
  std::string serve_many_keys() {
    std::string body = "keys";
    std::string listing;
    for (int i = 0; i < 10000; ++i) {
      const std::string name = "key-" + std::to_string(i);
      body += "\n" + name + "\tssh-ed25519\tSHA256:" + std::string(43, 'Q') + "\t" + name +
              "@laptop\tok";
      listing += name + "\tssh-ed25519\n";
    }
    answer(body);
    return listing;
  }
};

TEST_F(Output, OneWriteForAReportThatFitsTheBuffer) {
  const std::string keys = "keys\nwork\ted\tSHA256:a\tw@x\tok\nhome\ted\tSHA256:b\th@x\tok";
  const std::pair<std::string, std::vector<std::string>> rows[] = {
      {keys, {"keys"}},
      {keys, {"keys", "--long"}},
      {keys, {"keys", "--json"}},
      {keys, {"fingerprint", "home"}},
      {"status\n/run/a\tp\tm\tw\tpageant", {"status"}},
      {"devices\npixel\tnear\tactive\nold\tfar\trevoked", {"devices"}},
      {"pubkey\nssh-ed25519 AAAA k", {"getpub", "k"}},
  };
  for (const auto& [body, arguments] : rows) {
    answer(body);
    const RunResult result = run_with(arguments, {.count_writes = true});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out_writes, 1) << arguments[0] << ": " << result.out;
  }
}

TEST_F(Output, AReaderThatGoesAwayGetsNoMessage) {
  serve_many_keys();
  EXPECT_RUN(run_with({"keys", "--long"}, {.read_at_most = 10}), "key-0\tssh-", "", 1);
}

TEST_F(Output, ANonBlockingReaderIsWaitedFor) {
  const std::string listing = serve_many_keys();
  const RunResult result = run_with({"keys"}, {.non_blocking = true});
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(result.out == listing) << result.out.size() << " of " << listing.size() << " bytes";
}

}  // namespace
}  // namespace zelko_test
