// SPDX-License-Identifier: MIT
#include "zelko/ipc/daemon.hpp"

#include <limits>

#include "zelko/ipc/decimal.hpp"

namespace zelko_ipc::daemon {

namespace {

std::expected<std::uint32_t, std::string_view> argument_u32(std::string_view text) {
  const auto value = parse_unsigned_decimal(text, std::numeric_limits<std::uint32_t>::max());
  if (!value) {
    return std::unexpected(k_bad_argument);
  }
  return static_cast<std::uint32_t>(*value);
}

std::expected<ControlRequest, std::string_view> generate(std::string_view line) {
  auto record = fields<3>(line);
  if (!record) {
    return std::unexpected(record.error());
  }
  auto& [key_type, bits_text, name] = *record;
  const auto bits = argument_u32(bits_text);
  if (!bits) {
    return std::unexpected(bits.error());
  }
  return ControlRequest{ControlRequest::Generate{std::move(key_type), *bits, std::move(name)}};
}

}  // namespace

std::expected<ControlRequest, std::string_view> decode_request(std::string_view payload) {
  const std::size_t lf = payload.find('\n');
  const std::string_view word = payload.substr(0, lf);
  if (lf == std::string_view::npos) {
    if (word == "status") {
      return ControlRequest{ControlRequest::Status{}};
    }
    if (word == "glance") {
      return ControlRequest{ControlRequest::Glance{}};
    }
    if (word == "keys") {
      return ControlRequest{ControlRequest::Keys{}};
    }
    if (word == "devices") {
      return ControlRequest{ControlRequest::Devices{}};
    }
    return std::unexpected(k_unknown_request);
  }
  const std::string_view line = payload.substr(lf + 1);
  if (word == "getpub") {
    return ControlRequest{ControlRequest::GetPub{unescape(line)}};
  }
  if (word == "authorize") {
    const auto minutes = argument_u32(line);
    if (!minutes) {
      return std::unexpected(minutes.error());
    }
    return ControlRequest{ControlRequest::Authorize{*minutes}};
  }
  if (word == "generate") {
    return generate(line);
  }
  return std::unexpected(k_unknown_request);
}

std::string status_answer(std::string_view endpoint, std::string_view phone,
                          std::string_view metadata, std::string_view window,
                          std::string_view pageant) {
  return head_and_record("status", {endpoint, phone, metadata, window, pageant});
}

std::string glance_answer(bool paired, bool connected, std::uint32_t key_count) {
  return head_and_record("glance",
                         {paired ? "paired" : "unpaired", connected ? "connected" : "disconnected",
                          to_decimal(key_count)});
}

std::string keys_answer(std::span<const KeyRecord> keys) {
  std::string out = "keys";
  for (const KeyRecord& k : keys) {
    out.append("\n").append(join({k.name, k.algorithm, k.fingerprint, k.comment, k.state}));
  }
  return out;
}

std::string public_key_answer(std::string_view text) {
  return head_and_record("pubkey", {text});
}

std::string devices_answer(std::span<const DeviceRecord> devices) {
  std::string out = "devices";
  for (const DeviceRecord& d : devices) {
    out.append("\n").append(join({d.name, d.detail, d.revoked ? "revoked" : "active"}));
  }
  return out;
}

std::string authorized_answer(std::uint64_t expires, std::string_view scope) {
  return head_and_record("authorized", {to_decimal(expires), scope});
}

std::string generated_answer(std::string_view public_key, std::string_view fingerprint,
                             std::string_view name) {
  return head_and_record("generated", {public_key, fingerprint, name});
}

std::string error_answer(std::string_view message) {
  return head_and_record("error", {message});
}

}  // namespace zelko_ipc::daemon
