// SPDX-License-Identifier: MIT
#include "zelko/ipc/messages.hpp"

#include <gtest/gtest.h>

#include "zelko/ipc/daemon.hpp"
#include "zelko/ipc/overloaded.hpp"

namespace {

using zelko_ipc::ControlRequest;
using zelko_ipc::ControlResponse;
using R = ControlResponse;

TEST(Encode, EveryRequest) {
  struct Row {
    ControlRequest request;
    std::string_view payload;
  };
  const Row rows[] = {
      {{ControlRequest::Status{}}, "status"},
      {{ControlRequest::Glance{}}, "glance"},
      {{ControlRequest::Keys{}}, "keys"},
      {{ControlRequest::Devices{}}, "devices"},
      {{ControlRequest::GetPub{""}}, "getpub\n"},
      {{ControlRequest::GetPub{"a\tb\nc\\"}}, "getpub\na\\tb\\nc\\\\"},
      {{ControlRequest::Authorize{0}}, "authorize\n0"},
      {{ControlRequest::Authorize{4294967295}}, "authorize\n4294967295"},
      {{ControlRequest::Generate{"rsa", 4096, "a\tb"}}, "generate\nrsa\t4096\ta\\tb"},
      {{ControlRequest::Generate{"any\ntype", 1, ""}}, "generate\nany\\ntype\t1\t"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(row.request.encode(), row.payload);
    // What the client encodes, the daemon decodes unchanged.
    EXPECT_EQ(zelko_ipc::daemon::decode_request(row.payload), row.request) << row.payload;
  }
}

// A decoded answer as one line of text: its head, then its texts between
// bars, records separated by semicolons.
std::string shown(const ControlResponse& answer) {
  std::string out;
  const auto add = [&](std::initializer_list<std::string_view> texts) {
    for (const std::string_view text : texts) {
      out.append("|").append(text);
    }
  };
  std::visit(zelko_ipc::Overloaded{
                 [&](const R::Status& a) {
                   out = "status";
                   add({a.endpoint(), a.phone(), a.metadata(), a.window(), a.pageant()});
                 },
                 [&](const R::Glance& a) {
                   out = "glance";
                   add({a.paired ? "paired" : "-", a.connected ? "connected" : "-",
                        std::to_string(a.key_count)});
                 },
                 [&](const R::Keys& a) {
                   out = "keys";
                   a.for_each([&](const zelko_ipc::KeyRecord& k) {
                     add({k.name, k.algorithm, k.fingerprint, k.comment, k.state});
                     out += ";";
                   });
                 },
                 [&](const R::PublicKey& a) {
                   out = "pubkey";
                   add({a.text});
                 },
                 [&](const R::Devices& a) {
                   out = "devices";
                   a.for_each([&](const zelko_ipc::DeviceRecord& d) {
                     add({d.name, d.detail, d.revoked ? "revoked" : "active"});
                     out += ";";
                   });
                 },
                 [&](const R::Authorized& a) {
                   out = "authorized";
                   add({std::to_string(a.expires), a.scope});
                 },
                 [&](const R::Generated& a) {
                   out = "generated";
                   add({a.public_key(), a.fingerprint(), a.name()});
                 },
                 [&](const R::Error& a) {
                   out = "error";
                   add({a.message});
                 },
             },
             answer.value);
  return out;
}

std::string decoded(std::string_view payload) {
  const auto answer = ControlResponse::decode(std::string(payload));
  return answer ? shown(*answer) : "failed: " + std::string(answer.error());
}

TEST(Decode, Table) {
  struct Row {
    std::string_view payload;
    std::string_view shown;
  };
  const Row rows[] = {
      {"status\n/run/a.sock\tpaired\tfresh\t\t", "status|/run/a.sock|paired|fresh||"},
      {"glance\npaired\tconnected\t+7", "glance|paired|connected|7"},
      {"glance\nPaired\tconnected \t4294967295", "glance|-|-|4294967295"},
      {"pubkey\nssh-ed25519 AAAA c\\tx", "pubkey|ssh-ed25519 AAAA c\tx"},
      {"pubkey\n", "pubkey|"},
      {"pubkey\na\tb", "pubkey|a\tb"},  // one field, not split at TAB
      {"authorized\n0018446744073709551615\tgithub.com",
       "authorized|18446744073709551615|github.com"},
      {"generated\nssh-ed25519 AAAA\tSHA256:x\tk", "generated|ssh-ed25519 AAAA|SHA256:x|k"},
      {"error", "error|"},
      {"error\n", "error|"},
      {"error\nno \\\"key\\n\tx", "error|no \\\"key\n\tx"},
      // Lists: blank lines skipped wherever they are; escapes undone per record.
      {"keys", "keys"},
      {"keys\n\n\n", "keys"},
      {"keys\nwork\ted\tSHA256:w\tw@x\tok\n\na\\tb\trsa\t\tc\\nd\t\n",
       "keys|work|ed|SHA256:w|w@x|ok;|a\tb|rsa||c\nd|;"},
      {"keys\n\na\\\\\tb\\\t\\qc\t\\n\tz\\\n\n\nx\ty\tz\tw\tv\\\\\n",
       "keys|a\\|b\\|\\qc|\n|z\\;|x|y|z|w|v\\;"},
      {"devices\n", "devices"},
      {"devices\npixel\tseen\tactive\nold\t\tActive\nx\ty\trevoked\nz\tw\t",
       "devices|pixel|seen|active;|old||revoked;|x|y|revoked;|z|w|revoked;"},
      {"devices\nn\\tm\td\\\\\tact\\ive\n\nk\t\tactive", "devices|n\tm|d\\|revoked;|k||active;"},
      // Failures.
      {"", "failed: unknown control response"},
      {"Status\na\tb\tc\td\te", "failed: unknown control response"},
      {"status\r\na\tb\tc\td\te", "failed: unknown control response"},
      {"status \na\tb\tc\td\te", "failed: unknown control response"},
      {"status", "failed: status has no body"},
      {"status\n", "failed: control record has the wrong shape"},
      {"status\na\tb\tc\td", "failed: control record has the wrong shape"},
      {"glance", "failed: glance has no body"},
      {"glance\npaired\tconnected", "failed: control record has the wrong shape"},
      {"glance\npaired\tconnected\t4294967296", "failed: glance key count is not a number"},
      {"glance\npaired\tconnected\t-1", "failed: glance key count is not a number"},
      {"glance\npaired\tconnected\t", "failed: glance key count is not a number"},
      {"glance\npaired\tconnected\t+", "failed: glance key count is not a number"},
      {"pubkey", "failed: pubkey has no body"},
      {"authorized", "failed: authorized has no body"},
      {"authorized\n12", "failed: control record has the wrong shape"},
      {"authorized\n\tscope", "failed: bad expiry"},
      {"authorized\n-5\tscope", "failed: bad expiry"},
      {"authorized\n18446744073709551616\tscope", "failed: bad expiry"},
      {"generated", "failed: generated has no body"},
      {"generated\na\tb", "failed: control record has the wrong shape"},
      {"keys\nwork\ted", "failed: control record has the wrong shape"},
      {"keys\nw\te\tS\tw\tok\nbad", "failed: control record has the wrong shape"},
      {"devices\npixel\tactive", "failed: control record has the wrong shape"},
      // Bytes that are no UTF-8, including the ones decoding keeps records apart with.
      {"keys\na\tb\tc\td\te\xfez", "failed: the answer was not UTF-8"},
      {"status\n\xff\t\t\t\t", "failed: the answer was not UTF-8"},
      {"error\n\xed\xa0\x80", "failed: the answer was not UTF-8"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(decoded(row.payload), row.shown) << row.payload;
  }
}

TEST(Decode, LinesAfterTheBodyAreIgnored) {
  for (const std::string_view payload :
       {"status\na\tb\tc\td\te", "glance\nno\tno\t3", "pubkey\nline", "authorized\n1\ts",
        "generated\np\tf\tn", "error\noops"}) {
    EXPECT_EQ(decoded(std::string(payload) + "\nanything\tat\tall\n\nmore"), decoded(payload));
  }
}

TEST(DaemonSide, MalformedRequests) {
  struct Row {
    std::string_view payload;
    std::string_view message;
  };
  const Row rows[] = {
      {"", zelko_ipc::daemon::k_unknown_request},
      {"status\n", zelko_ipc::daemon::k_unknown_request},
      {"getpub", zelko_ipc::daemon::k_unknown_request},
      {"authorize\n-1", zelko_ipc::daemon::k_bad_argument},
      {"authorize\n4294967296", zelko_ipc::daemon::k_bad_argument},
      {"generate\nrsa\tbig\tk", zelko_ipc::daemon::k_bad_argument},
      {"generate\nrsa\t1", zelko_ipc::k_wrong_shape},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(zelko_ipc::daemon::decode_request(row.payload).error(), row.message) << row.payload;
  }
}

TEST(DaemonSide, AnswersDecodeToWhatWasEncoded) {
  namespace d = zelko_ipc::daemon;
  const std::string awkward = "a\tb\nc\\d\r \xc3\xa9";
  const zelko_ipc::KeyRecord keys[] = {{awkward, "a", "f", "", "s"}, {"", "", "", "", ""}};
  const zelko_ipc::DeviceRecord devices[] = {{awkward, "", false}, {"x", "y", true}};
  const std::pair<std::string, std::string> rows[] = {
      {d::status_answer(awkward, "p", "", "", awkward), "status|" + awkward + "|p|||" + awkward},
      {d::glance_answer(true, false, 4294967295), "glance|paired|-|4294967295"},
      {d::keys_answer({}), "keys"},
      {d::keys_answer(keys), "keys|" + awkward + "|a|f||s;|||||;"},
      {d::public_key_answer(awkward), "pubkey|" + awkward},
      {d::devices_answer(devices), "devices|" + awkward + "||active;|x|y|revoked;"},
      {d::authorized_answer(18446744073709551615u, awkward),
       "authorized|18446744073709551615|" + awkward},
      {d::generated_answer(awkward, "f", "n"), "generated|" + awkward + "|f|n"},
      {d::error_answer(awkward), "error|" + awkward},
  };
  for (const auto& [payload, expected] : rows) {
    EXPECT_EQ(decoded(payload), expected) << payload;
  }
  EXPECT_EQ(d::authorized_answer(7, "s"), "authorized\n7\ts");
}

}  // namespace
