// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "agent.hpp"
#include "client.hpp"
#include "keyring.hpp"
#include "zelko/ipc/messages.hpp"

namespace derodi_sim {

/// Ways to make the simulated phone behave, or misbehave on purpose.
struct Behaviour {
  bool stale = false;                       // key metadata was never refreshed
  bool refuse = false;                      // the user declines every window and key
  bool refuse_trusted_destination = false;  // windows fail for want of a trusted destination
  bool refuse_signatures = false;           // signatures outside a window are refused
  std::chrono::seconds approval_delay{0};   // time the user takes to decide
  bool quiet = false;                       // no line for each decision
};

/// One paired phone with real keys, served through a real agent. Every
/// request may come from another thread at the same time.
class Phone {
 public:
  /// A phone whose keys are in `keys` and `agent`, offered to SSH clients
  /// at `endpoint`; keys it makes go to `key_directory`.
  Phone(Behaviour behaviour, const Agent& agent, std::string endpoint, std::string key_directory,
        std::vector<Key> keys)
      : m_behaviour(behaviour),
        m_agent(agent),
        m_endpoint(std::move(endpoint)),
        m_key_directory(std::move(key_directory)),
        m_keys(std::move(keys)) {}

  /// The phone's answer payload to one request from `client`, which may
  /// leave while the user decides: then nothing is granted.
  [[nodiscard]] std::string answer(const zelko_ipc::ControlRequest& request, const Client& client);

  /// Whether the phone lets a signature with the key `key_blob` for
  /// `client` through: at once inside an authorization window, otherwise as
  /// the user decides. `destination` is the host key fingerprint the SSH
  /// client bound the connection to, or empty.
  [[nodiscard]] bool approves_signature(const Client& client, std::string_view key_blob,
                                        std::string_view destination);

  /// From now on nothing more is granted.
  void stop() { m_stopping = true; }

 private:
  using Response = std::string;

  Response status() const;
  Response keys() const;
  Response public_key(const std::string& name) const;
  Response authorize(std::uint32_t minutes, const Client& client);
  Response generate(const zelko_ipc::ControlRequest::Generate& request, const Client& client);
  /// Waits the time the user takes to decide on `asked`; false, and told,
  /// when the client leaves or the sim stops first.
  [[nodiscard]] bool decided(const Client& client, std::string_view asked) const;
  /// The user's verdict on the approval request `asked` for `client`:
  /// empty when approved, else the answer's message (the refusal is told).
  [[nodiscard]] std::string approval(const Client& client, std::string_view asked) const;
  [[nodiscard]] bool window_open() const;
  /// The key a request names, as the phone shows it: "'NAME' FINGERPRINT".
  [[nodiscard]] std::string shown_key(std::string_view key_blob) const;
  /// One line on standard error: what the phone was asked, and its decision.
  void tell(std::string_view asked, std::string_view outcome) const;

  Behaviour m_behaviour;
  const Agent& m_agent;
  std::string m_endpoint;
  std::string m_key_directory;
  std::atomic<bool> m_stopping{false};
  mutable std::mutex m_mutex;  // guards what follows
  std::vector<Key> m_keys;
  std::uint64_t m_generated = 0;
  std::chrono::system_clock::time_point m_window_expires{};
  std::string m_window_scope;
};

}  // namespace derodi_sim
