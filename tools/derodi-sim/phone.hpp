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

/// A host key the agent verified, named as known_hosts names it.
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
  std::optional<Destination> destination = std::nullopt;  // a login's, verified, unrevoked
  bool git = false;                                       // an SSHSIG signature in namespace git
  bool forwarded = false;                                 // asked through a forwarded agent
};

/// One paired phone with real keys, served through a real agent. Every
/// request may come from another thread at the same time.
class Phone {
 public:
  /// A phone whose keys are in `keys` and `agent`, offered at `endpoint`;
  /// the keys it makes and the destinations trusted are kept in
  /// `key_directory`. Once `stop` is asked for, nothing more is granted.
  Phone(Behaviour behaviour, const Agent& agent, Log& log, std::optional<Asker> asker,
        std::string endpoint, const TrustedDirectory& key_directory, std::vector<Key> keys,
        const Stop& stop);

  /// Trusts `destination` from now on, saying so in the log with `how`.
  void trust(const Destination& destination, std::string_view how);

  /// The answer to one request from `client`; nothing is granted to a
  /// client that leaves while the user decides.
  [[nodiscard]] std::string answer(const zelko_ipc::ControlRequest& request,
                                   const HangUpWatch& client);

  /// Whether the phone lets `signature` through: at once inside a window
  /// that covers it, otherwise as the user decides.
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
  /// The word typed at `choices` for `asked`, or, unattended, "y" after the
  /// delay ("n" when `refused_by_behaviour`); else why not, told in the log.
  [[nodiscard]] std::expected<std::string, Decision> answer_of(const HangUpWatch& client,
                                                               std::string_view asked,
                                                               std::string_view choices,
                                                               bool refused_by_behaviour) const;
  /// The user's yes or no to `asked`; a refusal is told in the log.
  [[nodiscard]] Decision decide(const HangUpWatch& client, std::string_view asked,
                                bool refused_by_behaviour) const;
  /// The scope the user chooses of the destinations trusted.
  [[nodiscard]] std::expected<Scope, Decision> choose_scope(const HangUpWatch& client,
                                                            std::string_view asked) const;
  /// The answer to a request that was not approved, as `decision` ended it.
  [[nodiscard]] static std::string refusal(Decision decision);
  [[nodiscard]] std::vector<Destination> trusted_now() const;
  [[nodiscard]] bool window_open() const;
  /// The key a request names, as the phone shows it: "'NAME' FINGERPRINT".
  [[nodiscard]] std::string shown_key(std::string_view key_blob) const;
  /// One line in the log: the phone's decision first ("approved",
  /// "refused on the phone"...), then what it was asked.
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

/// Serves one connection to the control socket: one request, one answer.
void serve_control(int connection, Phone& phone, const Stop& stop);

}  // namespace derodi_sim
