// SPDX-License-Identifier: MIT
// The client's side of the messages: requests encoded, answers decoded.

#include "zelko/ipc/messages.hpp"

#include <limits>

#include "zelko/ipc/decimal.hpp"
#include "zelko/ipc/overloaded.hpp"
#include "zelko/ipc/utf8.hpp"

namespace zelko_ipc {

namespace {

using Decoded = std::expected<ControlResponse, std::string_view>;

// Where the body line starts: after the head's LF, or at the end when the
// answer has no body.
struct Head {
  std::string_view word;
  bool has_body = false;
  std::size_t body = 0;
};

Head head_of(std::string_view payload) {
  const std::size_t lf = payload.find('\n');
  if (lf == std::string_view::npos) {
    return {payload, false, payload.size()};
  }
  return {payload.substr(0, lf), true, lf + 1};
}

// The records of `payload` from `start` on, decoded in its own buffer.
template <std::size_t N>
std::expected<Records<N>, std::string_view> records(std::string payload, std::size_t start,
                                                    Lines lines) {
  if (!decode_records(payload, start, N, lines)) {
    return std::unexpected(k_wrong_shape);
  }
  return Records<N>(std::move(payload));
}

// The body line from `start` on, unescaped as one field (not split at TAB),
// moved to the front of the payload, which then holds it alone.
std::string one_field(std::string payload, std::size_t start) {
  const std::string_view body = std::string_view(payload).substr(start);
  char* const base = payload.data();
  char* const end = unescape_into(base, body.substr(0, body.find('\n')));
  payload.resize(static_cast<std::size_t>(end - base));
  return payload;
}

template <class Answer, std::size_t N>
Decoded record_answer(std::string payload, std::size_t start, Lines lines) {
  auto decoded = records<N>(std::move(payload), start, lines);
  if (!decoded) {
    return std::unexpected(decoded.error());
  }
  return ControlResponse{Answer(std::move(*decoded))};
}

Decoded glance(std::string payload, std::size_t body) {
  const auto record = records<3>(std::move(payload), body, Lines::first);
  if (!record) {
    return std::unexpected(record.error());
  }
  const auto fields = record->first();
  const auto count = parse_unsigned_decimal(fields[2], std::numeric_limits<std::uint32_t>::max());
  if (!count) {
    return std::unexpected(k_glance_count);
  }
  return ControlResponse{ControlResponse::Glance{fields[0] == "paired", fields[1] == "connected",
                                                 static_cast<std::uint32_t>(*count)}};
}

Decoded authorized(std::string payload, std::size_t body) {
  if (!decode_records(payload, body, 2, Lines::first)) {
    return std::unexpected(k_wrong_shape);
  }
  const std::size_t scope = payload.find(k_field_break) + 1;
  const auto expires = parse_unsigned_decimal(std::string_view(payload).substr(0, scope - 1),
                                              std::numeric_limits<std::uint64_t>::max());
  if (!expires) {
    return std::unexpected(k_bad_expiry);
  }
  // The scope is decoded already; it only moves to the front.
  payload.erase(0, scope);
  return ControlResponse{ControlResponse::Authorized{*expires, std::move(payload)}};
}

Decoded public_key(std::string payload, std::size_t body) {
  return ControlResponse{ControlResponse::PublicKey{one_field(std::move(payload), body)}};
}

Decoded status(std::string payload, std::size_t body) {
  return record_answer<ControlResponse::Status, 5>(std::move(payload), body, Lines::first);
}

Decoded generated(std::string payload, std::size_t body) {
  return record_answer<ControlResponse::Generated, 3>(std::move(payload), body, Lines::first);
}

// Heads whose answer is one body line, with the message for a missing body.
struct BodyForm {
  std::string_view head;
  std::string_view no_body;
  Decoded (*decode)(std::string payload, std::size_t body);
};

constexpr BodyForm k_body_forms[] = {
    {"status", k_status_no_body, status},          {"glance", k_glance_no_body, glance},
    {"pubkey", k_pubkey_no_body, public_key},      {"authorized", k_authorized_no_body, authorized},
    {"generated", k_generated_no_body, generated},
};

}  // namespace

std::string ControlRequest::encode() const {
  return std::visit(
      Overloaded{
          [](const Status&) { return std::string("status"); },
          [](const Glance&) { return std::string("glance"); },
          [](const Keys&) { return std::string("keys"); },
          [](const Devices&) { return std::string("devices"); },
          [](const GetPub& r) { return head_and_record("getpub", {r.name}); },
          [](const Authorize& r) { return head_and_record("authorize", {to_decimal(r.minutes)}); },
          [](const Generate& r) {
            return head_and_record("generate", {r.key_type, to_decimal(r.bits), r.name});
          },
      },
      value);
}

Decoded ControlResponse::decode(std::string payload) {
  // Checked first, so that no decoded text holds a record or field break.
  if (!is_valid_utf8(payload)) {
    return std::unexpected(k_not_utf8);
  }
  const Head head = head_of(payload);
  for (const BodyForm& form : k_body_forms) {
    if (head.word == form.head) {
      if (!head.has_body) {
        return std::unexpected(form.no_body);
      }
      return form.decode(std::move(payload), head.body);
    }
  }
  if (head.word == "keys") {
    return record_answer<Keys, 5>(std::move(payload), head.body, Lines::every_non_empty);
  }
  if (head.word == "devices") {
    return record_answer<Devices, 3>(std::move(payload), head.body, Lines::every_non_empty);
  }
  if (head.word == "error") {
    return ControlResponse{Error{one_field(std::move(payload), head.body)}};
  }
  return std::unexpected(k_unknown_response);
}

}  // namespace zelko_ipc
