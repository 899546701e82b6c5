#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "agent.hpp"
#include "keyring.hpp"
#include "zelko/ipc/messages.hpp"

namespace derodi_sim {

/// Ways to make the simulated phone misbehave on purpose.
struct Behaviour {
  bool stale = false;                       // key metadata was never refreshed
  bool refuse = false;                      // the user declines every approval
  bool refuse_trusted_destination = false;  // windows fail for want of a trusted destination
  unsigned approval_delay_seconds = 0;      // time the user takes to approve
};

/// One paired phone with real keys, served through a real agent.
class Phone {
 public:
  Phone(Behaviour behaviour, const Agent& agent, std::string key_directory, std::vector<Key> keys)
      : m_behaviour(behaviour),
        m_agent(agent),
        m_key_directory(std::move(key_directory)),
        m_keys(std::move(keys)) {}

  /// The phone's answer to one request.
  [[nodiscard]] zelko_ipc::ControlResponse answer(const zelko_ipc::ControlRequest& request);

 private:
  using Response = zelko_ipc::ControlResponse;

  Response status() const;
  Response keys() const;
  Response public_key(const std::string& name) const;
  Response authorize(std::uint32_t minutes);
  Response generate(const zelko_ipc::ControlRequest::Generate& request);
  /// The user's verdict on an approval request: empty when approved.
  std::string approval() const;

  Behaviour m_behaviour;
  const Agent& m_agent;
  std::string m_key_directory;
  std::vector<Key> m_keys;
  std::uint64_t m_window_expires = 0;
  std::string m_window_scope;
};

}  // namespace derodi_sim
