#include "phone.hpp"

#include <unistd.h>

#include <chrono>
#include <thread>

#include "zelko/ipc/overloaded.hpp"

namespace derodi_sim {

namespace {

using zelko_ipc::ControlRequest;
using zelko_ipc::ControlResponse;
using zelko_ipc::Overloaded;

std::uint64_t now_seconds() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                        std::chrono::system_clock::now().time_since_epoch())
                                        .count());
}

ControlResponse error(std::string message) {
  return {ControlResponse::Error{std::move(message)}};
}

}  // namespace

ControlResponse Phone::answer(const ControlRequest& request) {
  return std::visit(Overloaded{
                        [&](const ControlRequest::Status&) { return status(); },
                        [&](const ControlRequest::Glance&) {
                          return ControlResponse{ControlResponse::Glance{
                              true, true, static_cast<std::uint32_t>(m_keys.size())}};
                        },
                        [&](const ControlRequest::Keys&) { return keys(); },
                        [&](const ControlRequest::GetPub& r) { return public_key(r.name); },
                        [&](const ControlRequest::Devices&) {
                          return ControlResponse{ControlResponse::Devices{{
                              {"Pixel 8 (simulated)", "paired 2026-11-02, connected", false},
                              {"Old phone", "paired 2025-01-10, lost", true},
                          }}};
                        },
                        [&](const ControlRequest::Authorize& r) { return authorize(r.minutes); },
                        [&](const ControlRequest::Generate& r) { return generate(r); },
                    },
                    request.value);
}

ControlResponse Phone::status() const {
  std::string window;
  const std::uint64_t now = now_seconds();
  if (m_window_expires > now) {
    window = m_window_scope + "; expires " + std::to_string(m_window_expires) + " (" +
             std::to_string((m_window_expires - now + 59) / 60) + " min left)";
  }
  return {ControlResponse::Status{m_agent.socket_path(), "Pixel 8 (simulated), connected",
                                  m_behaviour.stale
                                      ? "STALE: never synchronised with the phone"
                                      : "fresh, " + std::to_string(m_keys.size()) + " keys",
                                  window, ""}};
}

ControlResponse Phone::keys() const {
  ControlResponse::Keys list;
  for (const Key& key : m_keys) {
    list.add({key.name, key.algorithm, key.fingerprint, key.comment,
              m_behaviour.stale ? "STALE" : "ok"});
  }
  return {std::move(list)};
}

ControlResponse Phone::public_key(const std::string& name) const {
  if (m_behaviour.stale) {
    return error("key metadata is STALE");
  }
  for (const Key& key : m_keys) {
    if (key.name == name) {
      return {ControlResponse::PublicKey{key.public_line}};
    }
  }
  return error("no key named '" + name + "' on the phone");
}

std::string Phone::approval() const {
  std::this_thread::sleep_for(std::chrono::seconds(m_behaviour.approval_delay_seconds));
  if (m_behaviour.refuse) {
    return "the request was declined on the phone";
  }
  return {};
}

ControlResponse Phone::authorize(std::uint32_t minutes) {
  if (minutes == 0) {
    return error("a window needs at least one minute");
  }
  if (m_behaviour.refuse_trusted_destination) {
    return error("no trusted destination has been confirmed on the phone yet");
  }
  if (std::string refused = approval(); !refused.empty()) {
    return error(std::move(refused));
  }
  m_window_expires = now_seconds() + std::uint64_t{minutes} * 60;
  m_window_scope = "all trusted destinations";
  return {ControlResponse::Authorized{m_window_expires, m_window_scope}};
}

ControlResponse Phone::generate(const ControlRequest::Generate& request) {
  if (request.key_type != "ed25519" && request.key_type != "rsa") {
    return error("unsupported key type '" + request.key_type + "'; use ed25519 or rsa");
  }
  if (request.key_type == "rsa" && request.bits != 0 &&
      (request.bits < 2048 || request.bits > 16384)) {
    return error("RSA keys must have 2048 to 16384 bits");
  }
  for (const Key& key : m_keys) {
    if (key.name == request.name) {
      return error("a key named '" + request.name + "' already exists");
    }
  }
  if (std::string refused = approval(); !refused.empty()) {
    return error(std::move(refused));
  }
  const std::string path = m_key_directory + "/generated-" + std::to_string(m_keys.size() + 1);
  // A file left by an earlier run under this name is not this key.
  ::unlink(path.c_str());
  ::unlink((path + ".pub").c_str());
  const std::uint32_t bits = request.bits == 0 ? 4096 : request.bits;
  auto key =
      make_or_load_key(path, request.key_type, bits, request.name, request.name + "@zelko-phone");
  if (!key) {
    return error("the phone could not make the key: " + key.error());
  }
  if (auto added = m_agent.add(key->private_path); !added) {
    return error("the agent refused the new key: " + added.error());
  }
  m_keys.push_back(*key);
  return {ControlResponse::Generated{key->public_line, key->fingerprint, key->name}};
}

}  // namespace derodi_sim
