// SPDX-License-Identifier: MIT
#pragma once

// The requests the client sends to the daemon and the answers it understands.
//
// A decoded answer keeps the daemon's text in the one buffer it arrived in
// (see Records), so it costs no more memory than its text, whatever its
// shape; a list's records are visited, never handed out, so their texts
// cannot outlive it.

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <variant>

#include "zelko/ipc/record.hpp"

namespace zelko_ipc {

/// One key the phone offers, in wire order. Its texts view the answer it
/// was visited in.
struct KeyRecord {
  std::string_view name;
  std::string_view algorithm;
  std::string_view fingerprint;
  std::string_view comment;
  std::string_view state;
};

/// One paired phone. `revoked` is true unless the wire said exactly "active".
struct DeviceRecord {
  std::string_view name;
  std::string_view detail;
  bool revoked = true;
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
};

// The fixed messages of a failed decoding.
inline constexpr std::string_view k_not_utf8 = "the answer was not UTF-8";
inline constexpr std::string_view k_unknown_response = "unknown control response";
inline constexpr std::string_view k_status_no_body = "status has no body";
inline constexpr std::string_view k_glance_no_body = "glance has no body";
inline constexpr std::string_view k_glance_count = "glance key count is not a number";
inline constexpr std::string_view k_pubkey_no_body = "pubkey has no body";
inline constexpr std::string_view k_authorized_no_body = "authorized has no body";
inline constexpr std::string_view k_bad_expiry = "bad expiry";
inline constexpr std::string_view k_generated_no_body = "generated has no body";

struct ControlResponse {
  class Status {
   public:
    Status() = default;
    explicit Status(Records<5> record) : m_record(std::move(record)) {}

    [[nodiscard]] std::string_view endpoint() const { return m_record.first()[0]; }
    [[nodiscard]] std::string_view phone() const { return m_record.first()[1]; }
    [[nodiscard]] std::string_view metadata() const { return m_record.first()[2]; }
    [[nodiscard]] std::string_view window() const { return m_record.first()[3]; }
    [[nodiscard]] std::string_view pageant() const { return m_record.first()[4]; }

   private:
    Records<5> m_record;
  };
  struct Glance {
    bool paired = false;
    bool connected = false;
    std::uint32_t key_count = 0;
  };
  class Keys {
   public:
    explicit Keys(Records<5> records) : m_records(std::move(records)) {}

    [[nodiscard]] bool empty() const { return m_records.empty(); }

    /// Calls `visit(key)` with each key in order; when `visit` returns a
    /// bool, true ends the walk.
    template <class Visit>
    void for_each(Visit visit) const {
      m_records.for_each([&](const Records<5>::Fields& f) {
        const KeyRecord key{f[0], f[1], f[2], f[3], f[4]};
        return visit(key);
      });
    }

   private:
    Records<5> m_records;
  };
  struct PublicKey {
    std::string text;
  };
  class Devices {
   public:
    explicit Devices(Records<3> records) : m_records(std::move(records)) {}

    [[nodiscard]] bool empty() const { return m_records.empty(); }

    /// Calls `visit(device)` with each phone in order.
    template <class Visit>
    void for_each(Visit visit) const {
      m_records.for_each([&](const Records<3>::Fields& f) {
        const DeviceRecord device{f[0], f[1], f[2] != "active"};
        return visit(device);
      });
    }

   private:
    Records<3> m_records;
  };
  struct Authorized {
    std::uint64_t expires = 0;
    std::string scope;
  };
  class Generated {
   public:
    explicit Generated(Records<3> record) : m_record(std::move(record)) {}

    [[nodiscard]] std::string_view public_key() const { return m_record.first()[0]; }
    [[nodiscard]] std::string_view fingerprint() const { return m_record.first()[1]; }
    [[nodiscard]] std::string_view name() const { return m_record.first()[2]; }

   private:
    Records<3> m_record;
  };
  /// The daemon's own account of why it refused or failed a request.
  struct Error {
    std::string message;
  };

  std::variant<Status, Glance, Keys, PublicKey, Devices, Authorized, Generated, Error> value;

  /// Decodes a whole answer payload, in its own buffer: decoding copies no
  /// text. Returns one of the fixed messages above, or k_wrong_shape, when
  /// it does not decode; any bytes either decode or fail.
  [[nodiscard]] static std::expected<ControlResponse, std::string_view> decode(std::string payload);
};

}  // namespace zelko_ipc
