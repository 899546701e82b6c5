#pragma once

// The requests the client sends to the daemon and the answers it understands.

#include <cstdint>
#include <expected>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace zelko_ipc {

/// One key the phone offers, in wire order. The texts are views: into the
/// text its decoded answer owns, or, for an answer a daemon builds to
/// encode, into strings that outlive the encoding.
struct KeyRecord {
  std::string_view name;
  std::string_view algorithm;
  std::string_view fingerprint;
  std::string_view comment;
  std::string_view state;
  bool operator==(const KeyRecord&) const = default;
};

/// One paired phone. `revoked` is true unless the wire said exactly "active".
struct DeviceRecord {
  std::string name;
  std::string detail;
  bool revoked = true;
  bool operator==(const DeviceRecord&) const = default;
};

struct ControlRequest {
  struct Status {
    bool operator==(const Status&) const = default;
  };
  struct Glance {
    bool operator==(const Glance&) const = default;
  };
  struct Keys {
    bool operator==(const Keys&) const = default;
  };
  struct GetPub {
    std::string name;
    bool operator==(const GetPub&) const = default;
  };
  struct Devices {
    bool operator==(const Devices&) const = default;
  };
  struct Authorize {
    std::uint32_t minutes = 0;
    bool operator==(const Authorize&) const = default;
  };
  struct Generate {
    std::string key_type;
    std::uint32_t bits = 0;
    std::string name;
    bool operator==(const Generate&) const = default;
  };

  std::variant<Status, Glance, Keys, GetPub, Devices, Authorize, Generate> value;

  bool operator==(const ControlRequest&) const = default;

  /// The request's payload text: its word, then for requests with arguments
  /// an LF and one argument line. Never ends with LF.
  [[nodiscard]] std::string encode() const;

  /// The daemon's side: reads a request payload. Returns
  /// k_unknown_request, k_bad_argument or k_wrong_shape when it is not one.
  [[nodiscard]] static std::expected<ControlRequest, std::string_view> decode(
      std::string_view payload);
};

inline constexpr std::string_view k_unknown_request = "unknown control request";
inline constexpr std::string_view k_bad_argument = "bad request argument";

// The fixed messages of a failed decoding.
inline constexpr std::string_view k_unknown_response = "unknown control response";
inline constexpr std::string_view k_status_no_body = "status has no body";
inline constexpr std::string_view k_glance_no_body = "glance has no body";
inline constexpr std::string_view k_glance_count = "glance key count is not a number";
inline constexpr std::string_view k_pubkey_no_body = "pubkey has no body";
inline constexpr std::string_view k_authorized_no_body = "authorized has no body";
inline constexpr std::string_view k_bad_expiry = "bad expiry";
inline constexpr std::string_view k_generated_no_body = "generated has no body";

struct ControlResponse {
  struct Status {
    std::string endpoint;
    std::string phone;
    std::string metadata;
    std::string window;
    std::string pageant;
    bool operator==(const Status&) const = default;
  };
  struct Glance {
    bool paired = false;
    bool connected = false;
    std::uint32_t key_count = 0;
    bool operator==(const Glance&) const = default;
  };
  struct Keys {
    std::vector<KeyRecord> keys;
    /// The unescaped texts the records of a decoded answer view. Shared, so
    /// that copies of the answer stay valid.
    std::shared_ptr<const std::string> text = {};
    bool operator==(const Keys& other) const { return keys == other.keys; }
  };
  struct PublicKey {
    std::string text;
    bool operator==(const PublicKey&) const = default;
  };
  struct Devices {
    std::vector<DeviceRecord> devices;
    bool operator==(const Devices&) const = default;
  };
  struct Authorized {
    std::uint64_t expires = 0;
    std::string scope;
    bool operator==(const Authorized&) const = default;
  };
  struct Generated {
    std::string public_key;
    std::string fingerprint;
    std::string name;
    bool operator==(const Generated&) const = default;
  };
  /// The daemon's own account of why it refused or failed a request.
  struct Error {
    std::string message;
    bool operator==(const Error&) const = default;
  };

  std::variant<Status, Glance, Keys, PublicKey, Devices, Authorized, Generated, Error> value;
  bool operator==(const ControlResponse&) const = default;

  /// The daemon's side: the answer's payload text, in the form decode reads.
  [[nodiscard]] std::string encode() const;

  /// Decodes a whole answer payload (already known to be UTF-8). Returns one
  /// of the fixed messages above, or k_wrong_shape, when it does not decode.
  [[nodiscard]] static std::expected<ControlResponse, std::string_view> decode(
      std::string_view payload);

  /// The same, taking over the payload: a key list is unescaped in place and
  /// its records view the payload, so decoding it copies no text.
  [[nodiscard]] static std::expected<ControlResponse, std::string_view> decode_owned(
      std::string payload);
};

}  // namespace zelko_ipc
