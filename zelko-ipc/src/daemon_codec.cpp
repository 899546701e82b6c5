// SPDX-License-Identifier: MIT
// The daemon's side of the messages: requests decoded, answers built and
// encoded. The client never needs any of it.

#include <limits>

#include "zelko/ipc/decimal.hpp"
#include "zelko/ipc/messages.hpp"
#include "zelko/ipc/overloaded.hpp"
#include "zelko/ipc/record.hpp"

namespace zelko_ipc {

namespace {

// Appends `fields` to `out` in decoded form: separated by field breaks.
void append_decoded(std::string& out, std::span<const std::string_view> fields) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) {
      out.push_back(k_field_break);
    }
    out.append(fields[i]);
  }
}

// Appends LF and the control record of `fields` to `out`.
void append_line(std::string& out, std::span<const std::string_view> fields) {
  out.push_back('\n');
  append_joined(out, fields);
}

void append_line(std::string& out, std::initializer_list<std::string_view> fields) {
  append_line(out, std::span(fields.begin(), fields.size()));
}

std::string decimal(std::uint64_t value) {
  std::string out;
  append_decimal(out, value);
  return out;
}

}  // namespace

template <std::size_t N>
RecordFields<N>::RecordFields(const std::array<std::string_view, N>& fields) {
  append_decoded(m_text, fields);
}

template <std::size_t N>
void RecordList<N>::add(const std::array<std::string_view, N>& fields) {
  if (!empty()) {
    m_text.push_back(k_record_break);
  }
  append_decoded(m_text, fields);
}

template class RecordFields<3>;
template class RecordFields<5>;
template class RecordList<3>;
template class RecordList<5>;

ControlResponse::Keys::Keys(std::initializer_list<KeyRecord> keys) {
  for (const KeyRecord& key : keys) {
    add(key);
  }
}

void ControlResponse::Keys::add(const KeyRecord& key) {
  m_list.add({key.name, key.algorithm, key.fingerprint, key.comment, key.state});
}

ControlResponse::Devices::Devices(std::initializer_list<DeviceRecord> devices) {
  for (const DeviceRecord& device : devices) {
    add(device);
  }
}

void ControlResponse::Devices::add(const DeviceRecord& device) {
  // Decoding keeps only whether the status word was "active".
  m_list.add({device.name, device.detail, device.revoked ? "" : "active"});
}

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

std::string ControlResponse::encode() const {
  std::string out;
  std::visit(
      Overloaded{
          [&](const Status& a) {
            out = "status";
            append_line(out, {a.endpoint(), a.phone(), a.metadata(), a.window(), a.pageant()});
          },
          [&](const Glance& a) {
            out = "glance";
            append_line(out, {a.paired ? "paired" : "unpaired",
                              a.connected ? "connected" : "disconnected", decimal(a.key_count)});
          },
          [&](const Keys& a) {
            out = "keys";
            a.for_each([&](const KeyRecord& k) {
              append_line(out, {k.name, k.algorithm, k.fingerprint, k.comment, k.state});
            });
          },
          [&](const PublicKey& a) { append_line(out = "pubkey", {a.text}); },
          [&](const Devices& a) {
            out = "devices";
            a.for_each([&](const DeviceRecord& d) {
              append_line(out, {d.name, d.detail, d.revoked ? "revoked" : "active"});
            });
          },
          [&](const Authorized& a) {
            append_line(out = "authorized", {decimal(a.expires), a.scope});
          },
          [&](const Generated& a) {
            append_line(out = "generated", {a.public_key(), a.fingerprint(), a.name()});
          },
          [&](const Error& a) { append_line(out = "error", {a.message}); },
      },
      value);
  return out;
}

}  // namespace zelko_ipc
