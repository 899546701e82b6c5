#include "zelko/ipc/messages.hpp"

#include <array>
#include <limits>
#include <optional>

#include "zelko/ipc/decimal.hpp"
#include "zelko/ipc/overloaded.hpp"
#include "zelko/ipc/record.hpp"

namespace zelko_ipc {

namespace {

std::string word_and_line(std::string_view word, std::string_view line) {
  std::string out;
  out.reserve(word.size() + 1 + line.size());
  out.append(word);
  out.push_back('\n');
  out.append(line);
  return out;
}

std::string decimal(std::uint64_t value) {
  std::string out;
  append_decimal(out, value);
  return out;
}

// An answer split into its head line, the line after it (when the payload
// holds an LF at all) and everything after the head.
struct Lines {
  std::string_view head;
  std::optional<std::string_view> body;
  std::string_view rest;
};

Lines split_answer(std::string_view payload) {
  const std::size_t end_of_head = payload.find('\n');
  if (end_of_head == std::string_view::npos) {
    return {payload, std::nullopt, payload.substr(payload.size())};
  }
  const std::string_view rest = payload.substr(end_of_head + 1);
  return {payload.substr(0, end_of_head), rest.substr(0, rest.find('\n')), rest};
}

using Decoded = std::expected<ControlResponse, std::string_view>;

// Calls `each` with every non-empty line of `rest`, stopping at the first failure.
template <class Each>
std::optional<std::string_view> for_each_line(std::string_view rest, Each each) {
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    if (!line.empty()) {
      if (auto failure = each(line)) {
        return failure;
      }
    }
    if (end == std::string_view::npos) {
      break;
    }
    rest.remove_prefix(end + 1);
  }
  return std::nullopt;
}

Decoded decode_status(std::string_view body) {
  auto f = fields<5>(body);
  if (!f) {
    return std::unexpected(f.error());
  }
  auto& [endpoint, phone, metadata, window, pageant] = *f;
  return ControlResponse{ControlResponse::Status{std::move(endpoint), std::move(phone),
                                                 std::move(metadata), std::move(window),
                                                 std::move(pageant)}};
}

Decoded decode_glance(std::string_view body) {
  auto f = fields<3>(body);
  if (!f) {
    return std::unexpected(f.error());
  }
  const auto count = parse_unsigned_decimal((*f)[2], std::numeric_limits<std::uint32_t>::max());
  if (!count) {
    return std::unexpected(k_glance_count);
  }
  return ControlResponse{ControlResponse::Glance{(*f)[0] == "paired", (*f)[1] == "connected",
                                                 static_cast<std::uint32_t>(*count)}};
}

// Decodes the key lines of the answer in `storage` (everything from
// `rest_offset` on) in place: the fields are unescaped where they lie and the
// records view them.
Decoded decode_keys(std::shared_ptr<std::string> storage, std::size_t rest_offset) {
  ControlResponse::Keys keys;
  char* const base = storage->data();
  std::string_view rest = std::string_view(*storage).substr(rest_offset);
  // Key lines are rarely shorter than this (a real fingerprint alone takes
  // 50 bytes), so an ordinary list never regrows; room reserved for lines
  // that do not come costs address space only.
  constexpr std::size_t k_short_key_line = 64;
  keys.keys.reserve(rest.size() / k_short_key_line);
  const auto failure = for_each_line(rest, [&](std::string_view line) {
    std::array<std::string_view, 5> pieces;
    bool escaped = false;
    if (!split_record(line, pieces, &escaped)) {
      return std::optional(k_wrong_shape);
    }
    if (escaped) {
      for (std::string_view& piece : pieces) {
        char* at = base + (piece.data() - base);
        piece = std::string_view(at, unescape_in_place(at, piece.size()));
      }
    }
    keys.keys.push_back(KeyRecord{pieces[0], pieces[1], pieces[2], pieces[3], pieces[4]});
    return std::optional<std::string_view>();
  });
  if (failure) {
    return std::unexpected(*failure);
  }
  keys.text = std::move(storage);
  return ControlResponse{std::move(keys)};
}

Decoded decode_devices(std::string_view rest) {
  ControlResponse::Devices devices;
  const auto failure = for_each_line(rest, [&](std::string_view line) {
    auto f = fields<3>(line);
    if (!f) {
      return std::optional(f.error());
    }
    auto& [name, detail, status] = *f;
    devices.devices.push_back(DeviceRecord{std::move(name), std::move(detail), status != "active"});
    return std::optional<std::string_view>();
  });
  if (failure) {
    return std::unexpected(*failure);
  }
  return ControlResponse{std::move(devices)};
}

Decoded decode_authorized(std::string_view body) {
  auto f = fields<2>(body);
  if (!f) {
    return std::unexpected(f.error());
  }
  const auto expires = parse_unsigned_decimal((*f)[0], std::numeric_limits<std::uint64_t>::max());
  if (!expires) {
    return std::unexpected(k_bad_expiry);
  }
  return ControlResponse{ControlResponse::Authorized{*expires, std::move((*f)[1])}};
}

Decoded decode_generated(std::string_view body) {
  auto f = fields<3>(body);
  if (!f) {
    return std::unexpected(f.error());
  }
  auto& [public_key, fingerprint, name] = *f;
  return ControlResponse{
      ControlResponse::Generated{std::move(public_key), std::move(fingerprint), std::move(name)}};
}

// Heads whose answer is one body line, with the message for a missing body.
struct BodyForm {
  std::string_view head;
  std::string_view no_body;
  Decoded (*decode)(std::string_view body);
};

constexpr BodyForm k_body_forms[] = {
    {"status", k_status_no_body, decode_status},
    {"glance", k_glance_no_body, decode_glance},
    {"pubkey", k_pubkey_no_body,
     [](std::string_view body) -> Decoded {
       return ControlResponse{ControlResponse::PublicKey{unescape(body)}};
     }},
    {"authorized", k_authorized_no_body, decode_authorized},
    {"generated", k_generated_no_body, decode_generated},
};

}  // namespace

std::string ControlRequest::encode() const {
  return std::visit(
      Overloaded{
          [](const Status&) { return std::string("status"); },
          [](const Glance&) { return std::string("glance"); },
          [](const Keys&) { return std::string("keys"); },
          [](const Devices&) { return std::string("devices"); },
          [](const GetPub& r) { return word_and_line("getpub", escape(r.name)); },
          [](const Authorize& r) { return word_and_line("authorize", decimal(r.minutes)); },
          [](const Generate& r) {
            const std::string bits = decimal(r.bits);
            const std::string_view record[] = {r.key_type, bits, r.name};
            return word_and_line("generate", join(record));
          },
      },
      value);
}

std::expected<ControlResponse, std::string_view> ControlResponse::decode(std::string_view payload) {
  return decode_owned(std::string(payload));
}

std::expected<ControlResponse, std::string_view> ControlResponse::decode_owned(
    std::string payload) {
  const Lines lines = split_answer(payload);
  for (const BodyForm& form : k_body_forms) {
    if (lines.head == form.head) {
      if (!lines.body) {
        return std::unexpected(form.no_body);
      }
      return form.decode(*lines.body);
    }
  }
  if (lines.head == "keys") {
    // The text moves to the heap once, before anything views it.
    const std::size_t rest_offset = lines.rest.data() - payload.data();
    return decode_keys(std::make_shared<std::string>(std::move(payload)), rest_offset);
  }
  if (lines.head == "devices") {
    return decode_devices(lines.rest);
  }
  if (lines.head == "error") {
    return ControlResponse{Error{lines.body ? unescape(*lines.body) : std::string()}};
  }
  return std::unexpected(k_unknown_response);
}

// The daemon's side of the same messages.

std::expected<ControlRequest, std::string_view> ControlRequest::decode(std::string_view payload) {
  const std::size_t end_of_word = payload.find('\n');
  const std::string_view word = payload.substr(0, end_of_word);
  if (end_of_word == std::string_view::npos) {
    if (word == "status") {
      return ControlRequest{Status{}};
    }
    if (word == "glance") {
      return ControlRequest{Glance{}};
    }
    if (word == "keys") {
      return ControlRequest{Keys{}};
    }
    if (word == "devices") {
      return ControlRequest{Devices{}};
    }
    return std::unexpected(k_unknown_request);
  }
  const std::string_view line = payload.substr(end_of_word + 1);
  constexpr std::uint64_t k_u32 = std::numeric_limits<std::uint32_t>::max();
  if (word == "getpub") {
    return ControlRequest{GetPub{unescape(line)}};
  }
  if (word == "authorize") {
    const auto minutes = parse_unsigned_decimal(line, k_u32);
    if (!minutes) {
      return std::unexpected(k_bad_argument);
    }
    return ControlRequest{Authorize{static_cast<std::uint32_t>(*minutes)}};
  }
  if (word == "generate") {
    auto f = fields<3>(line);
    if (!f) {
      return std::unexpected(f.error());
    }
    const auto bits = parse_unsigned_decimal((*f)[1], k_u32);
    if (!bits) {
      return std::unexpected(k_bad_argument);
    }
    return ControlRequest{
        Generate{std::move((*f)[0]), static_cast<std::uint32_t>(*bits), std::move((*f)[2])}};
  }
  return std::unexpected(k_unknown_request);
}

namespace {

// Appends LF and the record of `fields` to `out`.
void append_record(std::string& out, std::initializer_list<std::string_view> fields) {
  out.push_back('\n');
  bool first = true;
  for (const std::string_view field : fields) {
    if (!first) {
      out.push_back('\t');
    }
    first = false;
    append_escaped(out, field);
  }
}

}  // namespace

std::string ControlResponse::encode() const {
  std::string out;
  std::visit(Overloaded{
                 [&](const Status& a) {
                   out = "status";
                   append_record(out, {a.endpoint, a.phone, a.metadata, a.window, a.pageant});
                 },
                 [&](const Glance& a) {
                   out = "glance";
                   append_record(
                       out, {a.paired ? "paired" : "unpaired",
                             a.connected ? "connected" : "disconnected", decimal(a.key_count)});
                 },
                 [&](const Keys& a) {
                   out = "keys";
                   for (const KeyRecord& k : a.keys) {
                     append_record(out, {k.name, k.algorithm, k.fingerprint, k.comment, k.state});
                   }
                 },
                 [&](const PublicKey& a) { append_record(out = "pubkey", {a.text}); },
                 [&](const Devices& a) {
                   out = "devices";
                   for (const DeviceRecord& d : a.devices) {
                     append_record(out, {d.name, d.detail, d.revoked ? "revoked" : "active"});
                   }
                 },
                 [&](const Authorized& a) {
                   append_record(out = "authorized", {decimal(a.expires), a.scope});
                 },
                 [&](const Generated& a) {
                   append_record(out = "generated", {a.public_key, a.fingerprint, a.name});
                 },
                 [&](const Error& a) { append_record(out = "error", {a.message}); },
             },
             value);
  return out;
}

}  // namespace zelko_ipc
