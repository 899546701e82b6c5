// SPDX-License-Identifier: MIT
#pragma once

// The requests the client sends to the daemon and the answers it understands.
//
// A decoded answer keeps the daemon's text in the one buffer it arrived in:
// the fields are unescaped where they lie, and what separated them is
// rewritten into bytes that never occur in UTF-8 (k_field_break between the
// fields of a record, k_record_break between the records of a list). So an
// answer costs no more memory than its text, whatever its shape, and its
// texts are views into it: a list's records are visited, never handed out.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <expected>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

namespace zelko_ipc {

/// One key the phone offers, in wire order. Its texts view the answer it
/// was visited in.
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
  std::string_view name;
  std::string_view detail;
  bool revoked = true;
  bool operator==(const DeviceRecord&) const = default;
};

inline constexpr char k_field_break = '\xff';
inline constexpr char k_record_break = '\xfe';
inline constexpr char k_filler = '\xfd';

/// The N decoded fields of one record, kept in the answer's own text.
template <std::size_t N>
class RecordFields {
 public:
  /// N empty fields.
  RecordFields() : m_text(N - 1, k_field_break) {}
  /// The daemon's side: a record of these texts (UTF-8, copied).
  explicit RecordFields(const std::array<std::string_view, N>& fields);
  /// Takes over `text`, whose part from `start` on is one decoded record.
  RecordFields(std::string text, std::size_t start) : m_text(std::move(text)), m_start(start) {}

  [[nodiscard]] std::string_view operator[](std::size_t index) const {
    std::string_view rest = std::string_view(m_text).substr(m_start);
    for (std::size_t i = 0; i < index; ++i) {
      rest.remove_prefix(rest.find(k_field_break) + 1);
    }
    return rest.substr(0, rest.find(k_field_break));
  }

  bool operator==(const RecordFields& other) const {
    return std::string_view(m_text).substr(m_start) ==
           std::string_view(other.m_text).substr(other.m_start);
  }

 private:
  std::string m_text;
  std::size_t m_start = 0;
};

/// Records of N fields, kept in the answer's own text: separated by
/// k_record_break, with k_filler after a break where the text shrank as it
/// was decoded (a record whose escapes were undone, a blank line).
template <std::size_t N>
class RecordList {
 public:
  RecordList() = default;
  /// Takes over `text`, whose part from `start` on is the decoded list.
  RecordList(std::string text, std::size_t start) : m_text(std::move(text)), m_start(start) {}

  [[nodiscard]] bool empty() const { return m_text.size() == m_start; }

  /// The daemon's side: appends a record of these texts (UTF-8, copied).
  void add(const std::array<std::string_view, N>& fields);

  /// Calls `visit(fields)` with each record's fields in order; when `visit`
  /// returns a bool, true ends the walk.
  template <class Visit>
  void for_each(Visit visit) const {
    std::string_view rest = records();
    std::array<std::string_view, N> fields;
    while (next(rest, fields)) {
      if constexpr (std::is_same_v<std::invoke_result_t<Visit&, decltype(fields)&>, bool>) {
        if (visit(fields)) {
          return;
        }
      } else {
        visit(fields);
      }
    }
  }

  bool operator==(const RecordList& other) const {
    std::string_view mine = records();
    std::string_view theirs = other.records();
    std::array<std::string_view, N> a;
    std::array<std::string_view, N> b;
    while (true) {
      const bool more = next(mine, a);
      if (more != next(theirs, b)) {
        return false;
      }
      if (!more) {
        return true;
      }
      if (a != b) {
        return false;
      }
    }
  }

 private:
  [[nodiscard]] std::string_view records() const {
    return std::string_view(m_text).substr(m_start);
  }

  /// Takes the next record off the front of `rest`; false when there is none.
  static bool next(std::string_view& rest, std::array<std::string_view, N>& fields) {
    const char* at = rest.data();
    const char* const end = at + rest.size();
    while (at < end && *at == k_filler) {
      ++at;
    }
    if (at == end) {
      return false;
    }
    // A record holds exactly N - 1 field breaks.
    for (std::size_t i = 0; i + 1 < N; ++i) {
      const auto* stop = static_cast<const char*>(
          std::memchr(at, k_field_break, static_cast<std::size_t>(end - at)));
      fields[i] = {at, static_cast<std::size_t>(stop - at)};
      at = stop + 1;
    }
    const auto* stop = static_cast<const char*>(
        std::memchr(at, k_record_break, static_cast<std::size_t>(end - at)));
    fields[N - 1] = {at, static_cast<std::size_t>((stop == nullptr ? end : stop) - at)};
    rest = stop == nullptr ? std::string_view() : std::string_view(stop + 1, end);
    return true;
  }

  std::string m_text;
  std::size_t m_start = 0;
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
  class Status {
   public:
    Status() = default;
    /// The daemon's side.
    Status(std::string_view endpoint, std::string_view phone, std::string_view metadata,
           std::string_view window, std::string_view pageant)
        : m_fields({endpoint, phone, metadata, window, pageant}) {}
    explicit Status(RecordFields<5> fields) : m_fields(std::move(fields)) {}

    [[nodiscard]] std::string_view endpoint() const { return m_fields[0]; }
    [[nodiscard]] std::string_view phone() const { return m_fields[1]; }
    [[nodiscard]] std::string_view metadata() const { return m_fields[2]; }
    [[nodiscard]] std::string_view window() const { return m_fields[3]; }
    [[nodiscard]] std::string_view pageant() const { return m_fields[4]; }
    bool operator==(const Status&) const = default;

   private:
    RecordFields<5> m_fields;
  };
  struct Glance {
    bool paired = false;
    bool connected = false;
    std::uint32_t key_count = 0;
    bool operator==(const Glance&) const = default;
  };
  class Keys {
   public:
    Keys() = default;
    /// The daemon's side: a list of these keys (their texts are copied).
    Keys(std::initializer_list<KeyRecord> keys);
    explicit Keys(RecordList<5> list) : m_list(std::move(list)) {}
    void add(const KeyRecord& key);

    [[nodiscard]] bool empty() const { return m_list.empty(); }

    /// Calls `visit(key)` with each key in order; when `visit` returns a
    /// bool, true ends the walk.
    template <class Visit>
    void for_each(Visit visit) const {
      m_list.for_each([&](const std::array<std::string_view, 5>& f) {
        const KeyRecord key{f[0], f[1], f[2], f[3], f[4]};
        return visit(key);
      });
    }
    bool operator==(const Keys&) const = default;

   private:
    RecordList<5> m_list;
  };
  struct PublicKey {
    std::string text;
    bool operator==(const PublicKey&) const = default;
  };
  class Devices {
   public:
    Devices() = default;
    /// The daemon's side: a list of these phones (their texts are copied).
    Devices(std::initializer_list<DeviceRecord> devices);
    explicit Devices(RecordList<3> list) : m_list(std::move(list)) {}
    void add(const DeviceRecord& device);

    [[nodiscard]] bool empty() const { return m_list.empty(); }

    /// Calls `visit(device)` with each phone in order.
    template <class Visit>
    void for_each(Visit visit) const {
      m_list.for_each([&](const std::array<std::string_view, 3>& f) {
        const DeviceRecord device{f[0], f[1], f[2] != "active"};
        return visit(device);
      });
    }
    bool operator==(const Devices&) const = default;

   private:
    RecordList<3> m_list;
  };
  struct Authorized {
    std::uint64_t expires = 0;
    std::string scope;
    bool operator==(const Authorized&) const = default;
  };
  class Generated {
   public:
    Generated() = default;
    /// The daemon's side.
    Generated(std::string_view public_key, std::string_view fingerprint, std::string_view name)
        : m_fields({public_key, fingerprint, name}) {}
    explicit Generated(RecordFields<3> fields) : m_fields(std::move(fields)) {}

    [[nodiscard]] std::string_view public_key() const { return m_fields[0]; }
    [[nodiscard]] std::string_view fingerprint() const { return m_fields[1]; }
    [[nodiscard]] std::string_view name() const { return m_fields[2]; }
    bool operator==(const Generated&) const = default;

   private:
    RecordFields<3> m_fields;
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

  /// The same, taking over the payload: the answer is decoded in the
  /// payload's own buffer and keeps it, so decoding copies no text.
  [[nodiscard]] static std::expected<ControlResponse, std::string_view> decode_owned(
      std::string payload);
};

}  // namespace zelko_ipc
