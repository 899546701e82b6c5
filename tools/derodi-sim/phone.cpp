// SPDX-License-Identifier: MIT
#include "phone.hpp"

#include <unistd.h>

#include <ctime>

#include "fingerprint.hpp"
#include "zelko/ipc/daemon.hpp"
#include "zelko/ipc/overloaded.hpp"
#include "zelko/ipc/utf8.hpp"
#include "zelko/ipc/white_space.hpp"

namespace derodi_sim {

namespace {

using zelko_ipc::ControlRequest;
namespace wire = zelko_ipc::daemon;
using zelko_ipc::Overloaded;
using Clock = std::chrono::system_clock;

std::string error(std::string_view message) {
  return wire::error_answer(message);
}

std::string quoted(std::string_view text) {
  return std::string("'").append(text).append("'");
}

std::string already_exists(std::string_view name) {
  return std::string("a key named ").append(quoted(name)).append(" already exists");
}

// Why `name` cannot name a key, or nothing when it can.
std::string name_fault(std::string_view name) {
  if (name.empty()) {
    return "a key name must not be empty";
  }
  if (zelko_ipc::trim_white_space(name).empty()) {
    return "a key name must hold more than white space";
  }
  for (std::size_t at = 0; at < name.size();) {
    const auto c = zelko_ipc::decode_utf8(name.substr(at));
    if (c && (c->value < 0x20 || (c->value >= 0x7F && c->value <= 0x9F))) {
      return "a key name must not hold control characters";
    }
    at += c ? c->length : 1;
  }
  return {};
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

std::string Phone::answer(const ControlRequest& request, const Client& client) {
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
    window = m_window_scope + "; " + expiry_text(m_window_expires, Clock::now());
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
    return error(std::move(fault));
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

void Phone::tell(std::string_view asked, std::string_view outcome) const {
  if (m_behaviour.quiet) {
    return;
  }
  std::string line = "derodi-sim: phone: ";
  line.append(asked).append(": ").append(outcome).append("\n");
  // One write a line, so that lines from clients served side by side never mix.
  if (::write(2, line.data(), line.size()) < 0) {
    // Nobody reads the log: the phone decides all the same.
  }
}

std::string Phone::shown_key(std::string_view key_blob) const {
  const std::lock_guard lock(m_mutex);
  for (const Key& key : m_keys) {
    if (derodi_sim::key_blob(key.public_line) == key_blob) {
      return quoted(key.name) + " " + key.fingerprint;
    }
  }
  return "an unknown key " + fingerprint(key_blob);
}

bool Phone::decided(const Client& client, std::string_view asked) const {
  if (client.stays_for(m_behaviour.approval_delay) && !m_stopping) {
    return true;
  }
  tell(asked, m_stopping ? "cancelled, the sim is stopping" : "cancelled, the client left");
  return false;
}

std::string Phone::approval(const Client& client, std::string_view asked) const {
  if (!decided(client, asked)) {
    return "the request was cancelled";
  }
  if (m_behaviour.refuse) {
    tell(asked, "refused");
    return "the request was declined on the phone";
  }
  return {};
}

bool Phone::approves_signature(const Client& client, std::string_view key_blob,
                               std::string_view destination) {
  const std::string asked = "signature with " + shown_key(key_blob) + " for " +
                            (destination.empty() ? std::string("unknown destination")
                                                 : "host " + std::string(destination));
  bool in_window = false;
  {
    const std::lock_guard lock(m_mutex);
    in_window = window_open();
  }
  if (in_window) {
    tell(asked, "approved by the window");
    return true;
  }
  if (m_behaviour.refuse_signatures) {
    tell(asked, "refused outside a window");
    return false;
  }
  if (!decided(client, asked)) {
    return false;
  }
  tell(asked, "approved");
  return true;
}

std::string Phone::authorize(std::uint32_t minutes, const Client& client) {
  if (minutes == 0) {
    return error("a window needs at least one minute");
  }
  const std::string asked = "authorization window of " + std::to_string(minutes) + " min";
  if (m_behaviour.refuse_trusted_destination) {
    tell(asked, "refused, no trusted destination");
    return error("no trusted destination has been confirmed on the phone yet");
  }
  if (std::string refused = approval(client, asked); !refused.empty()) {
    return error(std::move(refused));
  }
  tell(asked, "approved");
  const std::lock_guard lock(m_mutex);
  const auto expires = Clock::now() + std::chrono::minutes(minutes);
  m_window_expires = expires;
  m_window_scope = "all trusted destinations";
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(expires.time_since_epoch());
  return wire::authorized_answer(static_cast<std::uint64_t>(seconds.count()), m_window_scope);
}

std::string Phone::generate(const ControlRequest::Generate& request, const Client& client) {
  if (std::string fault = name_fault(request.name); !fault.empty()) {
    return error(std::move(fault));
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
  const auto exists = [&] {
    for (const Key& key : m_keys) {
      if (key.name == request.name) {
        return true;
      }
    }
    return false;
  };
  std::string path;
  {
    const std::lock_guard lock(m_mutex);
    if (exists()) {
      return error(already_exists(request.name));
    }
    path = m_key_directory + "/generated-" + std::to_string(++m_generated);
  }
  const std::string asked =
      "key generation of " + quoted(request.name) + " (" + request.key_type + ")";
  if (std::string refused = approval(client, asked); !refused.empty()) {
    return error(std::move(refused));
  }
  // A file left by an earlier run under this name is not this key, and a
  // key that is not made whole leaves nothing behind.
  const auto remove_files = [&] {
    ::unlink(path.c_str());
    ::unlink((path + ".pub").c_str());
  };
  remove_files();
  const std::uint32_t bits = request.bits == 0 ? 4096 : request.bits;
  // Making a large RSA key takes long: it stops when the client leaves or
  // the sim stops.
  const auto abandoned = [&] {
    return m_stopping || !client.stays_for(std::chrono::milliseconds(0));
  };
  auto key = make_or_load_key(path, request.key_type, bits, request.name,
                              request.name + "@zelko-phone", abandoned);
  if (!key) {
    remove_files();
    if (abandoned()) {
      tell(asked, m_stopping ? "approved, then cancelled, the sim is stopping"
                             : "approved, then cancelled, the client left");
      return error("the request was cancelled");
    }
    return error("the phone could not make the key: " + key.error());
  }
  const std::lock_guard lock(m_mutex);
  // Another request may have made a key of this name meanwhile, and the
  // sim may be stopping.
  if (exists() || m_stopping) {
    remove_files();
    return error(m_stopping ? std::string("the request was cancelled")
                            : already_exists(request.name));
  }
  if (auto added = m_agent.add(key->private_path); !added) {
    remove_files();
    return error("the agent refused the new key: " + added.error());
  }
  m_keys.push_back(*key);
  tell(asked, "approved, made " + key->fingerprint);
  return wire::generated_answer(key->public_line, key->fingerprint, key->name);
}

}  // namespace derodi_sim
