// SPDX-License-Identifier: MIT
#include "cli_fixture.hpp"

namespace zelko_test {
namespace {

constexpr std::string_view k_endpoint = "/run/user/1000/zelko/agent.sock";

class Status : public CliTest {};

TEST_F(Status, FiveLinesWithoutPageant) {
  answer("status\n/run/user/1000/zelko/agent.sock\tpaired, connected\tfresh (2 min)\t\t");
  EXPECT_RUN(run({"status"}, {"SSH_AUTH_SOCK=" + std::string(k_endpoint)}),
             "agent endpoint  /run/user/1000/zelko/agent.sock\n"
             "this shell      Zelko\n"
             "phone           paired, connected\n"
             "metadata        fresh (2 min)\n"
             "window          none active\n",
             "", 0);
  EXPECT_EQ(received(), frame("status"));
  EXPECT_EQ(connections(), 1);
}

TEST_F(Status, SixLinesWithPageantThird) {
  answer("status\n/e\tphone\tmeta\tgithub.com until 12:00\tpageant on");
  EXPECT_RUN(run({"status"}),
             "agent endpoint  /e\n"
             "this shell      no agent (SSH_AUTH_SOCK is not set)\n"
             "pageant         pageant on\n"
             "phone           phone\n"
             "metadata        meta\n"
             "window          github.com until 12:00\n",
             "", 0);
}

TEST_F(Status, EmptyAndOddValuesArePrintedAsTheyCame) {
  answer("status\n\t\t\t  \\t\tx\\ny");
  EXPECT_RUN(run({"status"}, {"SSH_AUTH_SOCK=/tmp/other"}),
             "agent endpoint  \n"
             "this shell      not Zelko: SSH_AUTH_SOCK=/tmp/other\n"
             "pageant         x\ny\n"
             "phone           \n"
             "metadata        \n"
             "window            \t\n",
             "", 0);
}

TEST_F(Status, Verdicts) {
  struct Row {
    std::vector<std::string> environment;
    std::string line;
  };
  const std::string endpoint(k_endpoint);
  const Row rows[] = {
      {{"SSH_AUTH_SOCK=" + endpoint}, "Zelko"},
      {{"SSH_AUTH_SOCK= " + endpoint + "\n"}, "Zelko"},
      {{}, "no agent (SSH_AUTH_SOCK is not set)"},
      {{"SSH_AUTH_SOCK="}, "no agent (SSH_AUTH_SOCK is not set)"},
      {{"SSH_AUTH_SOCK=   "}, "no agent (SSH_AUTH_SOCK is not set)"},
      {{"SSH_AUTH_SOCK=/run/\xff"}, "no agent (SSH_AUTH_SOCK is not set)"},
      {{"SSH_AUTH_SOCK=" + endpoint + "/"}, "not Zelko: SSH_AUTH_SOCK=" + endpoint + "/"},
      {{"SSH_AUTH_SOCK= /RUN/x "}, "not Zelko: SSH_AUTH_SOCK=/RUN/x"},
  };
  for (const Row& row : rows) {
    answer("status\n" + endpoint + "\tp\tm\tw\t");
    EXPECT_RUN(run({"status"}, row.environment),
               "agent endpoint  " + endpoint + "\nthis shell      " + row.line +
                   "\nphone           p\nmetadata        m\nwindow          w\n",
               "", 0);
  }
}

TEST_F(Status, RefusedOrUnexpectedAnswers) {
  answer("error\nphone locked\\nretry later");
  EXPECT_RUN(run({"status"}), "", "zelko-cli: phone locked\nretry later\n", 1);
  answer("error");
  EXPECT_RUN(run({"status"}), "", "zelko-cli: \n", 1);
  for (const char* other : {"keys", "devices", "pubkey\nx", "glance\npaired\tconnected\t1"}) {
    answer(other);
    EXPECT_RUN(run({"status"}), "", "zelko-cli: unexpected answer from the daemon\n", 1);
  }
}

}  // namespace
}  // namespace zelko_test
