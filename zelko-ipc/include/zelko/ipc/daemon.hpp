// SPDX-License-Identifier: MIT
#pragma once

// The daemon's side of the control messages: requests decoded, answers
// encoded in the forms the client decodes. For the stand-in daemon and the
// tests; zelko-cli never links it.

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>

#include "zelko/ipc/messages.hpp"

namespace zelko_ipc::daemon {

inline constexpr std::string_view k_unknown_request = "unknown control request";
inline constexpr std::string_view k_bad_argument = "bad request argument";

/// Reads a request payload. Returns k_unknown_request, k_bad_argument or
/// k_wrong_shape when it is not one.
[[nodiscard]] std::expected<ControlRequest, std::string_view> decode_request(
    std::string_view payload);

[[nodiscard]] std::string status_answer(std::string_view endpoint, std::string_view phone,
                                        std::string_view metadata, std::string_view window,
                                        std::string_view pageant);
[[nodiscard]] std::string glance_answer(bool paired, bool connected, std::uint32_t key_count);
[[nodiscard]] std::string keys_answer(std::span<const KeyRecord> keys);
[[nodiscard]] std::string public_key_answer(std::string_view text);
[[nodiscard]] std::string devices_answer(std::span<const DeviceRecord> devices);
[[nodiscard]] std::string authorized_answer(std::uint64_t expires, std::string_view scope);
[[nodiscard]] std::string generated_answer(std::string_view public_key,
                                           std::string_view fingerprint, std::string_view name);
[[nodiscard]] std::string error_answer(std::string_view message);

}  // namespace zelko_ipc::daemon
