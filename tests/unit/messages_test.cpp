// SPDX-License-Identifier: MIT
#include "zelko/ipc/messages.hpp"

#include <gtest/gtest.h>

#include "zelko/ipc/record.hpp"

namespace {

using zelko_ipc::ControlRequest;
using zelko_ipc::ControlResponse;
using zelko_ipc::DeviceRecord;
using zelko_ipc::KeyRecord;
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
      {{ControlRequest::Authorize{15}}, "authorize\n15"},
      {{ControlRequest::Authorize{4294967295}}, "authorize\n4294967295"},
      {{ControlRequest::Generate{"rsa", 4096, "a\tb"}}, "generate\nrsa\t4096\ta\\tb"},
      {{ControlRequest::Generate{"ed25519", 0, "k"}}, "generate\ned25519\t0\tk"},
      {{ControlRequest::Generate{"any\ntype", 1, ""}}, "generate\nany\\ntype\t1\t"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(row.request.encode(), row.payload);
  }
}

void expect_decodes(std::string_view payload, const ControlResponse& expected) {
  const auto decoded = ControlResponse::decode(payload);
  ASSERT_TRUE(decoded) << "payload: " << payload << " failed with " << decoded.error();
  EXPECT_EQ(*decoded, expected) << "payload: " << payload;
}

void expect_fails(std::string_view payload, std::string_view message) {
  const auto decoded = ControlResponse::decode(payload);
  ASSERT_FALSE(decoded) << "payload: " << payload;
  EXPECT_EQ(decoded.error(), message) << "payload: " << payload;
}

TEST(Decode, EveryAnswerForm) {
  expect_decodes("status\n/run/a.sock\tpaired\tfresh\t\t",
                 R{R::Status{"/run/a.sock", "paired", "fresh", "", ""}});
  expect_decodes("glance\npaired\tconnected\t+7", R{R::Glance{true, true, 7}});
  expect_decodes("glance\nPaired\tconnected \t4294967295", R{R::Glance{false, false, 4294967295}});
  expect_decodes("pubkey\nssh-ed25519 AAAA c\\tx", R{R::PublicKey{"ssh-ed25519 AAAA c\tx"}});
  expect_decodes("pubkey\n", R{R::PublicKey{""}});
  expect_decodes("pubkey\na\tb", R{R::PublicKey{"a\tb"}});  // one field, not split at TAB
  expect_decodes("authorized\n0018446744073709551615\tgithub.com",
                 R{R::Authorized{18446744073709551615u, "github.com"}});
  expect_decodes("generated\nssh-ed25519 AAAA\tSHA256:x\tk",
                 R{R::Generated{"ssh-ed25519 AAAA", "SHA256:x", "k"}});
  expect_decodes("error", R{R::Error{""}});
  expect_decodes("error\n", R{R::Error{""}});
  expect_decodes("error\nno \\\"key\\n\tx", R{R::Error{"no \\\"key\n\tx"}});
}

TEST(Decode, Lists) {
  const KeyRecord work{"work", "ssh-ed25519", "SHA256:w", "w@x", "ok"};
  const KeyRecord tabbed{"a\tb", "rsa", "", "c\nd", ""};
  for (std::string_view empty : {"keys", "keys\n", "keys\n\n\n"}) {
    expect_decodes(empty, R{R::Keys{}});
  }
  expect_decodes("keys\nwork\tssh-ed25519\tSHA256:w\tw@x\tok\n\na\\tb\trsa\t\tc\\nd\t\n",
                 R{R::Keys{{work, tabbed}}});
  // Escapes anywhere and blank lines between: each record as if decoded alone.
  expect_decodes("keys\n\na\\\\\tb\\\t\\qc\t\\n\tz\\\n\n\nx\ty\tz\tw\tv\\\\\n",
                 R{R::Keys{{"a\\", "b\\", "\\qc", "\n", "z\\"}, {"x", "y", "z", "w", "v\\"}}});
  expect_fails("keys\nwork\tssh-ed25519", zelko_ipc::k_wrong_shape);
  expect_fails("keys\nwork\tssh-ed25519\tSHA256:w\tw@x\tok\nbad", zelko_ipc::k_wrong_shape);

  for (std::string_view empty : {"devices", "devices\n", "devices\n\n"}) {
    expect_decodes(empty, R{R::Devices{}});
  }
  expect_decodes(
      "devices\npixel\tseen today\tactive\nold\t\tActive\nx\ty\trevoked\nz\tw\t",
      R{R::Devices{{DeviceRecord{"pixel", "seen today", false}, DeviceRecord{"old", "", true},
                    DeviceRecord{"x", "y", true}, DeviceRecord{"z", "w", true}}}});
  expect_decodes("devices\nn\\tm\td\\\\\tre\\voked\n\nk\t\tactive",
                 R{R::Devices{{DeviceRecord{"n\tm", "d\\", true}, DeviceRecord{"k", "", false}}}});
  expect_fails("devices\npixel\tactive", zelko_ipc::k_wrong_shape);
}

TEST(Decode, Failures) {
  struct Row {
    std::string_view payload;
    std::string_view message;
  };
  const Row rows[] = {
      {"", zelko_ipc::k_unknown_response},
      {"Status\na\tb\tc\td\te", zelko_ipc::k_unknown_response},
      {"status\r\na\tb\tc\td\te", zelko_ipc::k_unknown_response},
      {"status \na\tb\tc\td\te", zelko_ipc::k_unknown_response},
      {"hello", zelko_ipc::k_unknown_response},
      {"status", zelko_ipc::k_status_no_body},
      {"status\n", zelko_ipc::k_wrong_shape},
      {"status\na\tb\tc\td", zelko_ipc::k_wrong_shape},
      {"glance", zelko_ipc::k_glance_no_body},
      {"glance\npaired\tconnected", zelko_ipc::k_wrong_shape},
      {"glance\npaired\tconnected\t4294967296", zelko_ipc::k_glance_count},
      {"glance\npaired\tconnected\t-1", zelko_ipc::k_glance_count},
      {"glance\npaired\tconnected\t", zelko_ipc::k_glance_count},
      {"glance\npaired\tconnected\t+", zelko_ipc::k_glance_count},
      {"pubkey", zelko_ipc::k_pubkey_no_body},
      {"authorized", zelko_ipc::k_authorized_no_body},
      {"authorized\n12", zelko_ipc::k_wrong_shape},
      {"authorized\n\tscope", zelko_ipc::k_bad_expiry},
      {"authorized\n-5\tscope", zelko_ipc::k_bad_expiry},
      {"authorized\n18446744073709551616\tscope", zelko_ipc::k_bad_expiry},
      {"generated", zelko_ipc::k_generated_no_body},
      {"generated\na\tb", zelko_ipc::k_wrong_shape},
  };
  for (const Row& row : rows) {
    expect_fails(row.payload, row.message);
  }
}

TEST(Decode, LinesAfterTheBodyAreIgnored) {
  const std::string_view tail = "\nanything\tat\tall\n\nmore";
  const std::pair<std::string_view, ControlResponse> rows[] = {
      {"status\na\tb\tc\td\te", R{R::Status{"a", "b", "c", "d", "e"}}},
      {"glance\nno\tno\t3", R{R::Glance{false, false, 3}}},
      {"pubkey\nline", R{R::PublicKey{"line"}}},
      {"authorized\n1\ts", R{R::Authorized{1, "s"}}},
      {"generated\np\tf\tn", R{R::Generated{"p", "f", "n"}}},
      {"error\noops", R{R::Error{"oops"}}},
  };
  for (const auto& [payload, expected] : rows) {
    expect_decodes(std::string(payload) + std::string(tail), expected);
  }
}

// The daemon's side: what the client encodes, the daemon decodes unchanged.
TEST(DaemonSide, RequestsRoundTrip) {
  const ControlRequest requests[] = {
      {ControlRequest::Status{}},
      {ControlRequest::Glance{}},
      {ControlRequest::Keys{}},
      {ControlRequest::Devices{}},
      {ControlRequest::GetPub{""}},
      {ControlRequest::GetPub{"a\tb\n\\c"}},
      {ControlRequest::Authorize{0}},
      {ControlRequest::Authorize{4294967295}},
      {ControlRequest::Generate{"rsa", 4096, "a\tb"}},
      {ControlRequest::Generate{"", 0, ""}},
  };
  for (const ControlRequest& request : requests) {
    const auto decoded = ControlRequest::decode(request.encode());
    ASSERT_TRUE(decoded) << request.encode();
    EXPECT_EQ(*decoded, request) << request.encode();
  }
}

TEST(DaemonSide, MalformedRequests) {
  struct Row {
    std::string_view payload;
    std::string_view message;
  };
  const Row rows[] = {
      {"", zelko_ipc::k_unknown_request},
      {"status\n", zelko_ipc::k_unknown_request},
      {"Keys", zelko_ipc::k_unknown_request},
      {"getpub", zelko_ipc::k_unknown_request},
      {"authorize\n", zelko_ipc::k_bad_argument},
      {"authorize\n-1", zelko_ipc::k_bad_argument},
      {"authorize\n4294967296", zelko_ipc::k_bad_argument},
      {"generate\nrsa\tbig\tk", zelko_ipc::k_bad_argument},
      {"generate\nrsa\t1", zelko_ipc::k_wrong_shape},
  };
  for (const Row& row : rows) {
    const auto decoded = ControlRequest::decode(row.payload);
    ASSERT_FALSE(decoded) << row.payload;
    EXPECT_EQ(decoded.error(), row.message) << row.payload;
  }
}

TEST(DaemonSide, AnswersRoundTrip) {
  const std::string awkward = "a\tb\nc\\d\r \xc3\xa9";
  const ControlResponse answers[] = {
      R{R::Status{awkward, "p", "", "", awkward}},
      R{R::Glance{true, false, 4294967295}},
      R{R::Glance{false, true, 0}},
      R{R::Keys{}},
      R{R::Keys{{KeyRecord{awkward, "a", "f", "", "s"}, KeyRecord{"", "", "", "", ""}}}},
      R{R::PublicKey{awkward}},
      R{R::PublicKey{""}},
      R{R::Devices{}},
      R{R::Devices{{DeviceRecord{awkward, "", false}, DeviceRecord{"x", "y", true}}}},
      R{R::Authorized{18446744073709551615u, awkward}},
      R{R::Generated{awkward, "f", "n"}},
      R{R::Error{""}},
      R{R::Error{awkward}},
  };
  for (const ControlResponse& answer : answers) {
    const auto decoded = ControlResponse::decode(answer.encode());
    ASSERT_TRUE(decoded) << answer.encode();
    EXPECT_EQ(*decoded, answer) << answer.encode();
  }
  EXPECT_EQ(R{R::Keys{}}.encode(), "keys");
  EXPECT_EQ((R{R::Authorized{7, "s"}}.encode()), "authorized\n7\ts");
}

}  // namespace
