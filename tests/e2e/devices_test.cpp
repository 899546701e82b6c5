// SPDX-License-Identifier: MIT
#include "cli_fixture.hpp"

namespace zelko_test {
namespace {

class Devices : public CliTest {};

TEST_F(Devices, Lines) {
  answer(
      "devices\npixel 8\tpaired 2026-11-02\tactive\nold phone\tlost\trevoked\n"
      "\t\tActive\na\\tb\tc\\nd\t\n");
  EXPECT_RUN(run({"devices"}),
             "pixel 8\tpaired 2026-11-02\tactive\n"
             "old phone\tlost\trevoked\n"
             "\t\trevoked\n"
             "a\tb\tc\nd\trevoked\n",
             "", 0);
  EXPECT_EQ(received(), frame("devices"));
}

TEST_F(Devices, EmptyListPointsToPairing) {
  answer("devices\n");
  EXPECT_RUN(run({"devices"}), "no paired devices; run 'derodi pair'\n", "", 0);
}

TEST_F(Devices, Failures) {
  answer("error\nradio off");
  EXPECT_RUN(run({"devices"}), "", "zelko-cli: radio off\n", 1);
  answer("error\n");
  EXPECT_RUN(run({"devices"}), "", "zelko-cli: \n", 1);
  answer("keys");
  EXPECT_RUN(run({"devices"}), "", "zelko-cli: unexpected answer from the daemon\n", 1);
  answer("devices\nonly\ttwo");
  EXPECT_RUN(run({"devices"}), "", "zelko-cli: control record has the wrong shape\n", 1);
}

}  // namespace
}  // namespace zelko_test
