// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "agent.hpp"
#include "asker.hpp"
#include "keyring.hpp"
#include "log.hpp"
#include "stop_signals.hpp"
#include "trusted_directory.hpp"
#include "zelko/ipc/messages.hpp"

namespace derodi_sim {

/// Ways to make the simulated phone behave, or misbehave on purpose.
struct Behaviour {
  bool stale = false;                      // key metadata was never refreshed
  bool refuse = false;                     // the user declines every window and key
  bool refuse_signatures = false;          // signatures no window covers are refused
  std::chrono::seconds approval_delay{0};  // time the user takes to decide
  bool quiet = false;                      // no line for each decision
  bool ask = false;                        // the user decides on the terminal
  std::chrono::seconds answer_time{60};    // how long the user has to answer there
};

/// A destination the user trusts: a host key the agent verified, named
/// as known_hosts names it.
struct Destination {
  std::string name;
  std::string host_key;  // its blob
};

/// The longest window the phone grants, in minutes (a week).
inline constexpr std::uint32_t k_longest_window = 7 * 24 * 60;

/// A signature the phone is asked to approve, as the agent endpoint saw it.
struct SignatureRequest {
  std::string_view key_blob;
  std::string what;  // what is signed and for whom, as the phone shows it
  std::string who;   // the program that asked
  /// A login's destination, when the agent verified its host key and
  /// known_hosts names it without revoking it.
  std::optional<Destination> destination = std::nullopt;
  bool git = false;        // an SSHSIG signature in namespace git
  bool forwarded = false;  // asked through a forwarded agent
};

/// The phone's decisions, as its lines begin.
namespace decision {
inline constexpr std::string_view approved = "approved";
inline constexpr std::string_view by_the_window = "approved by the window";
inline constexpr std::string_view outside_a_window = "refused outside a window";
inline constexpr std::string_view outside_the_scope = "refused, outside the window's scope";
inline constexpr std::string_view refused = "refused";
inline constexpr std::string_view refused_on_the_phone = "refused on the phone";
inline constexpr std::string_view unanswered = "refused, no answer in time";
inline constexpr std::string_view not_shown =
    "refused, the terminal did not take the question in time";
inline constexpr std::string_view too_long = "refused, longer than a week";
inline constexpr std::string_view no_trusted_destination = "refused, no trusted destination";
inline constexpr std::string_view trusted = "trusted from now on";
inline constexpr std::string_view client_left = "cancelled, the client left";
inline constexpr std::string_view stopping = "cancelled, the sim is stopping";
inline constexpr std::string_view made_then_client_left =
    "approved, then cancelled, the client left";
inline constexpr std::string_view made_then_stopping =
    "approved, then cancelled, the sim is stopping";
}  // namespace decision

/// One paired phone with real keys, served through a real agent. Every
/// request may come from another thread at the same time.
class Phone {
 public:
  /// A phone whose keys are in `keys` and `agent`, offered to SSH clients
  /// at `endpoint`; keys it makes, and the destinations the user trusts,
  /// are kept in `key_directory`, whence the destinations trusted before
  /// are read. Its decisions are told in `log`, and asked of `asker` when
  /// there is one. Once `stop` is asked for, nothing more is granted.
  Phone(Behaviour behaviour, const Agent& agent, Log& log, std::optional<Asker> asker,
        std::string endpoint, const TrustedDirectory& key_directory, std::vector<Key> keys,
        const Stop& stop);

  /// Trusts `destination` from now on, saying so in the log with `how`.
  void trust(const Destination& destination, std::string_view how);

  /// The phone's answer payload to one request from `client`, which may
  /// leave while the user decides: then nothing is granted.
  [[nodiscard]] std::string answer(const zelko_ipc::ControlRequest& request,
                                   const HangUpWatch& client);

  /// Whether the phone lets `signature` for `client` through: at once
  /// inside an authorization window that covers it, otherwise as the user
  /// decides.
  [[nodiscard]] bool approves_signature(const HangUpWatch& client,
                                        const SignatureRequest& signature);

 private:
  enum class Decision { approved, refused, cancelled };

  /// What an open window covers: destinations, and git signatures.
  struct Scope {
    std::vector<Destination> destinations;
    bool git = false;
  };

  std::string status() const;
  std::string keys() const;
  std::string public_key(const std::string& name) const;
  std::string authorize(std::uint32_t minutes, const HangUpWatch& client);
  std::string generate(const zelko_ipc::ControlRequest::Generate& request,
                       const HangUpWatch& client);
  /// The user's answer to `asked` for `client`: on the terminal, the word
  /// typed at `choices`; unattended, "y" after the approval delay ("n" when
  /// `refused_by_behaviour`). When there is none, why, told in the log.
  [[nodiscard]] std::expected<std::string, Decision> answer_of(const HangUpWatch& client,
                                                               std::string_view asked,
                                                               std::string_view choices,
                                                               bool refused_by_behaviour) const;
  /// The user's yes or no to `asked` for `client`, told in the log unless
  /// it is an approval (whose line says what it led to).
  [[nodiscard]] Decision decide(const HangUpWatch& client, std::string_view asked,
                                bool refused_by_behaviour) const;
  /// The scope the user chooses for a window asked as `asked`, of the
  /// destinations trusted; nothing when none is chosen.
  [[nodiscard]] std::expected<Scope, Decision> choose_scope(const HangUpWatch& client,
                                                            std::string_view asked) const;
  [[nodiscard]] bool window_open() const;
  /// The key a request names, as the phone shows it: "'NAME' FINGERPRINT".
  [[nodiscard]] std::string shown_key(std::string_view key_blob) const;
  /// One line in the log: the phone's decision first, then what it was
  /// asked.
  void tell(std::string_view decided, std::string_view asked) const;

  Behaviour m_behaviour;
  const Agent& m_agent;
  Log& m_log;
  mutable std::optional<Asker> m_asker;
  std::string m_endpoint;
  const TrustedDirectory& m_key_directory;
  const Stop& m_stop;
  mutable std::mutex m_mutex;  // guards what follows
  std::vector<Key> m_keys;
  std::set<std::string> m_making;  // names of keys being made
  std::vector<Destination> m_trusted;
  std::chrono::system_clock::time_point m_window_expires{};
  Scope m_window;
};

}  // namespace derodi_sim
