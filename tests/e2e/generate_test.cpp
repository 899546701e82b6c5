// SPDX-License-Identifier: MIT
#include "cli_fixture.hpp"

namespace zelko_test {
namespace {

class Generate : public CliTest {
 protected:
  void SetUp() override { answer(k_generated); }
  static constexpr std::string_view k_generated =
      "generated\nssh-ed25519 AAAAnew phone\tSHA256:new\tphone-key";
};

constexpr std::string_view k_approve = "approve the request on the phone...\n";
constexpr std::string_view k_confirmation = "generated 'phone-key'  SHA256:new\n";

TEST_F(Generate, ArgumentErrorsNeverReachTheDaemon) {
  struct Row {
    std::vector<std::string> arguments;
    std::string message;
  };
  const Row rows[] = {
      {{}, "a generated key needs --name"},
      {{"--name"}, "'--name' is missing a value"},
      {{"rsa"}, "'rsa' is missing a value"},
      {{"--type", "rsa", "--name"}, "'--name' is missing a value"},
      {{"--typo", "rsa", "--name", "k"}, "unknown flag '--typo'"},
      {{"--name", "k", "--bits"}, "'--bits' is missing a value"},
      {{"--bits", "4k", "--name", "k"}, "'4k' is not a key size"},
      {{"--bits", "-1", "--name", "k"}, "'-1' is not a key size"},
      {{"--bits", "4294967296", "--name", "k"}, "'4294967296' is not a key size"},
      {{"--bits", "", "--name", "k"}, "'' is not a key size"},
      {{"--bits", "4k", "--oops", "k"}, "'4k' is not a key size"},  // the first bad pair decides
      {{"--oops", "k", "--bits", "4k"}, "unknown flag '--oops'"},
      {{"--bits", "4k", "x"}, "'4k' is not a key size"},  // pair errors come before a leftover
      {{"--type=rsa", "--name", "k"}, "unknown flag '--type=rsa'"},
      {{"--TYPE", "rsa", "--name", "k"}, "unknown flag '--TYPE'"},
      {{"--type", "rsa"}, "a generated key needs --name"},
      {{"--name", " "}, "a generated key needs a name"},
      {{"--name", ""}, "a generated key needs a name"},
      {{"--name", "\t\xe3\x80\x80\xc2\xa0\n"}, "a generated key needs a name"},
      {{"--name", "k", "--name", ""}, "a generated key needs a name"},
  };
  for (const Row& row : rows) {
    std::vector<std::string> arguments = {"generate"};
    arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
    EXPECT_RUN(run(arguments), "", "zelko-cli: " + row.message + "\n", 1);
  }
  EXPECT_EQ(connections(), 0);
}

TEST_F(Generate, RequestsAndProgressLines) {
  const std::string rsa_default = "generating RSA-4096 on the phone; this can take a minute...\n";
  struct Row {
    std::vector<std::string> arguments;
    std::string request;
    std::string progress;
  };
  const Row rows[] = {
      {{"--name", "k"}, "ed25519\t0\tk", ""},
      {{"--type", "rsa", "--name", "k"}, "rsa\t0\tk", rsa_default},
      {{"--type", "rsa", "--bits", "4096", "--name", "a\tb"}, "rsa\t4096\ta\\tb", rsa_default},
      {{"--type", "rsa", "--bits", "2048", "--name", "k"},
       "rsa\t2048\tk",
       "generating RSA-2048 on the phone; this can take a minute...\n"},
      {{"--type", "rsa", "--bits", "+03072", "--name", "k"},
       "rsa\t3072\tk",
       "generating RSA-3072 on the phone; this can take a minute...\n"},
      {{"--type", "RSA", "--bits", "2048", "--name", "k"}, "RSA\t2048\tk", ""},
      {{"--type", "ed25519", "--bits", "4096", "--name", "k"}, "ed25519\t4096\tk", ""},
      {{"--type", "dsa\\x", "--name", "k"}, "dsa\\\\x\t0\tk", ""},
      {{"--name", "k", "--name", "j"}, "ed25519\t0\tj", ""},
      {{"--name", "--type"}, "ed25519\t0\t--type", ""},
      {{"--name", " k "}, "ed25519\t0\t k ", ""},
      {{"--bits", "1", "--bits", "2", "--name", "k", "--type", "rsa"},
       "rsa\t2\tk",
       "generating RSA-2 on the phone; this can take a minute...\n"},
  };
  for (const Row& row : rows) {
    answer(k_generated);
    std::vector<std::string> arguments = {"generate"};
    arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
    EXPECT_RUN(run(arguments), "ssh-ed25519 AAAAnew phone\n",
               row.progress + std::string(k_approve) + std::string(k_confirmation), 0);
    EXPECT_EQ(received(), frame("generate\n" + row.request));
  }
}

TEST_F(Generate, Failures) {
  struct Row {
    std::string body;
    std::string message;
  };
  const Row rows[] = {
      {"error\nthe phone said no (trusted destination, STALE)",
       "the phone said no (trusted destination, STALE)"},
      {"generated\nonly\ttwo", "control record has the wrong shape"},
      {"pubkey\nssh-ed25519 AAAA", "unexpected answer from the daemon"},
  };
  for (const Row& row : rows) {
    answer(row.body);
    EXPECT_RUN(run({"generate", "--type", "rsa", "--name", "k"}), "",
               "generating RSA-4096 on the phone; this can take a minute...\n" +
                   std::string(k_approve) + "zelko-cli: " + row.message + "\n",
               1);
  }
}

}  // namespace
}  // namespace zelko_test
