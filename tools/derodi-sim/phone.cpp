// SPDX-License-Identifier: MIT
#include "phone.hpp"

#include <algorithm>
#include <ctime>

#include "agent_messages.hpp"
#include "text.hpp"
#include "zelko/ipc/daemon.hpp"
#include "zelko/ipc/overloaded.hpp"

namespace derodi_sim {

namespace {

using zelko_ipc::ControlRequest;
namespace wire = zelko_ipc::daemon;
using zelko_ipc::Overloaded;
using Clock = std::chrono::system_clock;

std::string error(std::string_view message) {
  return wire::error_answer(message);
}

std::string already_exists(std::string_view name) {
  return std::string("a key named ").append(quoted(name)).append(" already exists");
}

// The expiry, as the phone shows it: the local time of day, with the date
// when it is not today, and the whole minutes left.
std::string expiry_text(Clock::time_point expires, Clock::time_point now) {
  const std::time_t then = Clock::to_time_t(expires);
  const std::time_t today = Clock::to_time_t(now);
  std::tm when{};
  std::tm current{};
  ::localtime_r(&then, &when);
  ::localtime_r(&today, &current);
  const bool same_day = when.tm_year == current.tm_year && when.tm_yday == current.tm_yday;
  char time[32];
  std::strftime(time, sizeof time, same_day ? "%H:%M" : "%Y-%m-%d %H:%M", &when);
  const auto left = std::chrono::ceil<std::chrono::minutes>(expires - now).count();
  return std::string("expires ")
      .append(time)
      .append(" (")
      .append(std::to_string(left))
      .append(" min left)");
}

}  // namespace

std::string Phone::answer(const ControlRequest& request, const HangUpWatch& client) {
  return std::visit(
      Overloaded{
          [&](const ControlRequest::Status&) { return status(); },
          [&](const ControlRequest::Glance&) {
            const std::lock_guard lock(m_mutex);
            return wire::glance_answer(true, true, static_cast<std::uint32_t>(m_keys.size()));
          },
          [&](const ControlRequest::Keys&) { return keys(); },
          [&](const ControlRequest::GetPub& r) { return public_key(r.name); },
          [&](const ControlRequest::Devices&) {
            const zelko_ipc::DeviceRecord devices[] = {
                {"Pixel 8 (simulated)", "paired 2026-11-02, connected", false},
                {"Old phone", "paired 2025-01-10, lost", true},
            };
            return wire::devices_answer(devices);
          },
          [&](const ControlRequest::Authorize& r) { return authorize(r.minutes, client); },
          [&](const ControlRequest::Generate& r) { return generate(r, client); },
      },
      request.value);
}

bool Phone::window_open() const {
  return m_window_expires > Clock::now();
}

std::string Phone::status() const {
  const std::lock_guard lock(m_mutex);
  std::string window;
  if (window_open()) {
    window = concat(k_window_scope, "; ", expiry_text(m_window_expires, Clock::now()));
  }
  return wire::status_answer(
      m_endpoint, "Pixel 8 (simulated), connected",
      m_behaviour.stale
          ? "STALE: never synchronised with the phone"
          : std::string("fresh, ").append(std::to_string(m_keys.size())).append(" keys"),
      window, "");
}

std::string Phone::keys() const {
  const std::lock_guard lock(m_mutex);
  std::vector<zelko_ipc::KeyRecord> list;
  for (const Key& key : m_keys) {
    list.push_back({key.name, key.algorithm, key.fingerprint, key.comment,
                    m_behaviour.stale ? "STALE" : "ok"});
  }
  return wire::keys_answer(list);
}

std::string Phone::public_key(const std::string& name) const {
  if (std::string fault = name_fault(name); !fault.empty()) {
    return error(fault);
  }
  if (m_behaviour.stale) {
    return error("key metadata is STALE");
  }
  const std::lock_guard lock(m_mutex);
  for (const Key& key : m_keys) {
    if (key.name == name) {
      return wire::public_key_answer(key.public_line);
    }
  }
  return error(std::string("no key named ").append(quoted(name)).append(" on the phone"));
}

void Phone::tell(std::string_view decided, std::string_view asked) const {
  if (!m_behaviour.quiet) {
    m_log.write(concat("derodi-sim: phone: ", decided, ": ", asked));
  }
}

std::string Phone::shown_key(std::string_view key_blob) const {
  const std::lock_guard lock(m_mutex);
  for (const Key& key : m_keys) {
    if (key.blob == key_blob) {
      return concat(foreign(key.name), " ", key.fingerprint);
    }
  }
  return concat("an unknown key ", fingerprint(key_blob));
}

Phone::Decision Phone::decide(const HangUpWatch& client, std::string_view asked,
                              bool refused_by_behaviour) const {
  if (m_asker) {
    switch (m_asker->ask(asked, client, m_behaviour.answer_time)) {
      case Asker::Answer::yes:
        return Decision::approved;
      case Asker::Answer::no:
        tell(decision::refused_on_the_phone, asked);
        return Decision::refused;
      case Asker::Answer::unanswered:
        tell(decision::unanswered, asked);
        return Decision::refused;
      case Asker::Answer::not_shown:
        tell(decision::not_shown, asked);
        return Decision::refused;
      case Asker::Answer::client_left:
      case Asker::Answer::stopping:
        break;
    }
  } else if (client.stays_for(m_behaviour.approval_delay)) {
    if (!refused_by_behaviour) {
      return Decision::approved;
    }
    tell(decision::refused, asked);
    return Decision::refused;
  }
  tell(m_stop.requested() ? decision::stopping : decision::client_left, asked);
  return Decision::cancelled;
}

bool Phone::approves_signature(const HangUpWatch& client, const SignatureRequest& signature) {
  const std::string asked = concat("signature with ", shown_key(signature.key_blob), ": ",
                                   signature.what, ", asked by ", signature.who);
  bool in_window = false;
  {
    const std::lock_guard lock(m_mutex);
    in_window = window_open();
  }
  if (in_window && signature.in_window_scope && !m_stop.requested()) {
    tell(decision::by_the_window, asked);
    return true;
  }
  if (m_behaviour.refuse_signatures) {
    tell(in_window ? decision::outside_the_scope : decision::outside_a_window, asked);
    return false;
  }
  if (decide(client, asked, false) != Decision::approved) {
    return false;
  }
  tell(decision::approved, asked);
  return true;
}

std::string Phone::authorize(std::uint32_t minutes, const HangUpWatch& client) {
  if (minutes == 0) {
    return error("a window needs at least one minute");
  }
  const std::string asked =
      concat("authorization window of ", std::to_string(minutes), " min for ", k_window_scope);
  if (minutes > k_longest_window) {
    tell(decision::too_long, asked);
    return error(concat("a window can last at most ", std::to_string(k_longest_window),
                        " minutes (a week)"));
  }
  if (m_behaviour.refuse_trusted_destination) {
    tell(decision::no_trusted_destination, asked);
    return error("no trusted destination has been confirmed on the phone yet");
  }
  switch (decide(client, asked, m_behaviour.refuse)) {
    case Decision::approved:
      break;
    case Decision::refused:
      return error("the request was declined on the phone");
    case Decision::cancelled:
      return error("the request was cancelled");
  }
  tell(decision::approved, asked);
  const std::lock_guard lock(m_mutex);
  m_window_expires = Clock::now() + std::chrono::minutes(minutes);
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(m_window_expires.time_since_epoch());
  return wire::authorized_answer(static_cast<std::uint64_t>(seconds.count()), k_window_scope);
}

std::string Phone::generate(const ControlRequest::Generate& request, const HangUpWatch& client) {
  if (std::string fault = name_fault(request.name); !fault.empty()) {
    return error(fault);
  }
  if (request.key_type != "ed25519" && request.key_type != "rsa") {
    return error(std::string("unsupported key type ")
                     .append(quoted(request.key_type))
                     .append("; use ed25519 or rsa"));
  }
  if (request.key_type == "rsa" && request.bits != 0 &&
      (request.bits < 2048 || request.bits > 16384)) {
    return error("RSA keys must have 2048 to 16384 bits");
  }
  {
    // The name is held from here on, so that the slow part (approval,
    // ssh-keygen, ssh-add) runs without the lock.
    const std::lock_guard lock(m_mutex);
    const bool taken = m_making.contains(request.name) ||
                       std::any_of(m_keys.begin(), m_keys.end(),
                                   [&](const Key& key) { return key.name == request.name; });
    if (taken) {
      return error(already_exists(request.name));
    }
    m_making.insert(request.name);
  }
  const auto release = [&] {
    const std::lock_guard lock(m_mutex);
    m_making.erase(request.name);
  };
  const std::string asked =
      concat("key generation of ", foreign(request.name), " (", request.key_type, ")");
  switch (decide(client, asked, m_behaviour.refuse)) {
    case Decision::approved:
      break;
    case Decision::refused:
      release();
      return error("the request was declined on the phone");
    case Decision::cancelled:
      release();
      return error("the request was cancelled");
  }
  // Making a large RSA key takes long: it stops when the client leaves or
  // the sim stops.
  auto key = make_new_key(m_key_directory, request.key_type,
                          request.bits == 0 ? 4096 : request.bits, request.name, client);
  if (!key) {
    release();
    if (!client.stays()) {
      tell(m_stop.requested() ? decision::made_then_stopping : decision::made_then_client_left,
           asked);
      return error("the request was cancelled");
    }
    return error(concat("the phone could not make the key: ", key.error()));
  }
  if (auto added = m_agent.add(m_key_directory, *key, m_stop); !added || m_stop.requested()) {
    remove_key_files(m_key_directory, key->file);
    release();
    return error(added ? std::string("the request was cancelled")
                       : "the agent refused the new key: " + added.error());
  }
  {
    const std::lock_guard lock(m_mutex);
    m_keys.push_back(*key);
    m_making.erase(request.name);
  }
  tell(decision::approved, concat(asked, ", made ", key->fingerprint));
  return wire::generated_answer(key->public_line, key->fingerprint, key->name);
}

}  // namespace derodi_sim
