// SPDX-License-Identifier: MIT
#include "cli_fixture.hpp"

namespace zelko_test {
namespace {

class Authorize : public CliTest {
 protected:
  void SetUp() override { answer("authorized\n1767225600\tgithub.com for 15 min"); }
};

constexpr std::string_view k_asking = "asking the phone; choose the scope there...\n";
constexpr std::string_view k_explanation =
    "\n\nA window can only cover destinations you have confirmed deliberately (spec §23), which is "
    "why approving a signature is not enough on its own.";

TEST_F(Authorize, ArgumentErrorsNeverReachTheDaemon) {
  struct Row {
    std::vector<std::string> arguments;
    std::string message;
  };
  const std::string usage = "usage: zelko-cli authorize --minutes N";
  const Row rows[] = {
      {{"authorize"}, usage},
      {{"authorize", "--minutes"}, usage},
      {{"authorize", "15", "--minutes"}, usage},
      {{"authorize", "--minutes=15"}, usage},
      {{"authorize", "--minutes", "15", "--minutes", "20"}, usage},
      {{"authorize", "--Minutes", "15"}, usage},
      {{"authorize", "--minutes", "-1"}, "'-1' is not a number of minutes"},
      {{"authorize", "--minutes", "+"}, "'+' is not a number of minutes"},
      {{"authorize", "--minutes", "-"}, "'-' is not a number of minutes"},
      {{"authorize", "--minutes", ""}, "'' is not a number of minutes"},
      {{"authorize", "--minutes", " 15"}, "' 15' is not a number of minutes"},
      {{"authorize", "--minutes", "1 5"}, "'1 5' is not a number of minutes"},
      {{"authorize", "--minutes", "15m"}, "'15m' is not a number of minutes"},
      {{"authorize", "--minutes", "4294967296"}, "'4294967296' is not a number of minutes"},
      {{"authorize", "--minutes", "0"}, "a window of zero minutes would authorize nothing"},
      {{"authorize", "--minutes", "+0"}, "a window of zero minutes would authorize nothing"},
      {{"authorize", "--minutes", "000"}, "a window of zero minutes would authorize nothing"},
  };
  for (const Row& row : rows) {
    EXPECT_RUN(run(row.arguments), "", "zelko-cli: " + row.message + "\n", 1);
  }
  EXPECT_EQ(connections(), 0);
}

TEST_F(Authorize, NumbersAreSentInPlainDecimal) {
  const std::pair<std::string, std::string> rows[] = {
      {"15", "15"}, {"+15", "15"}, {"0015", "15"}, {"4294967295", "4294967295"}};
  for (const auto& [typed, sent] : rows) {
    answer("authorized\n1767225600\tgithub.com for 15 min");
    EXPECT_RUN(run({"authorize", "--minutes", typed}), "authorized: github.com for 15 min\n",
               k_asking, 0);
    EXPECT_EQ(received(), frame("authorize\n" + sent));
  }
}

TEST_F(Authorize, Failures) {
  struct Row {
    std::string body;
    std::string message;
  };
  const Row rows[] = {
      {"error\nno trusted destination for this host",
       "no trusted destination for this host" + std::string(k_explanation)},
      {"error\nNo Trusted destination", "No Trusted destination"},
      {"error\ndenied on the phone", "denied on the phone"},
      {"authorized\n-1\tscope", "bad expiry"},
      {"status\na\tb\tc\td\te", "unexpected answer from the daemon"},
  };
  for (const Row& row : rows) {
    answer(row.body);
    EXPECT_RUN(run({"authorize", "--minutes", "5"}), "",
               std::string(k_asking) + "zelko-cli: " + row.message + "\n", 1);
  }
  // The line is printed before the daemon is contacted, even when none runs.
  daemon.reset();
  const RunResult result = run({"authorize", "--minutes", "5"});
  EXPECT_TRUE(result.err.starts_with(std::string(k_asking) + "zelko-cli: cannot reach derodi at "));
}

}  // namespace
}  // namespace zelko_test
