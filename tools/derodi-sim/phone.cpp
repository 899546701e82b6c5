// SPDX-License-Identifier: MIT
#include "phone.hpp"

#include <fcntl.h>

#include <algorithm>
#include <ctime>

#include "agent_messages.hpp"
#include "text.hpp"
#include "zelko/ipc/daemon.hpp"
#include "zelko/ipc/daemon_io.hpp"
#include "zelko/ipc/frame.hpp"
#include "zelko/ipc/io.hpp"
#include "zelko/ipc/overloaded.hpp"
#include "zelko/ipc/record.hpp"
#include "zelko/ipc/utf8.hpp"

namespace derodi_sim {

namespace {

using zelko_ipc::ControlRequest;
namespace wire = zelko_ipc::daemon;
using zelko_ipc::Overloaded;
using Clock = std::chrono::system_clock;

// The largest request the sim reads; real requests are a few bytes long.
constexpr std::uint32_t k_max_request_length = 64 * 1024;

// A client has this long from connecting to the end of its request.
constexpr std::chrono::seconds k_request_time{5};

void send_answer(int connection, const std::string& answer) {
  // A client that does not read its answer in time is dropped.
  (void)wire::send_all(connection, zelko_ipc::make_frame(answer),
                       std::chrono::steady_clock::now() + k_request_time);
}

std::string error(std::string_view message) {
  return wire::error_answer(message);
}

// The expiry: the local time (and date, unless today) and minutes left.
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
  return concat("expires ", time, " (", std::to_string(left), " min left)");
}

// The trusted destinations: a record a line, the host key in base64, the name.
constexpr std::string_view k_trusted_file = "trusted-destinations";

// "destination 'a'", "destinations 'a', 'b'", "git signatures", or both
// joined by "and"; a host known by several keys is named once.
std::string scope_text(const std::vector<Destination>& destinations, bool git) {
  std::vector<std::string> names;
  for (const Destination& destination : destinations) {
    if (std::find(names.begin(), names.end(), destination.name) == names.end()) {
      names.push_back(destination.name);
    }
  }
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    text.append(i > 0               ? ", "
                : names.size() == 1 ? "destination "
                                    : "destinations ")
        .append(foreign(names[i]));
  }
  if (git) {
    text.append(text.empty() ? "" : " and ").append("git signatures");
  }
  return text;
}

std::vector<Destination> read_trusted(const TrustedDirectory& directory) {
  std::vector<Destination> trusted;
  const std::string text = read_small_file(directory.fd(), std::string(k_trusted_file), 1 << 20);
  std::size_t at = 0;
  for (auto line = next_word(text, at, "\n"); !line.empty(); line = next_word(text, at, "\n")) {
    const auto record = zelko_ipc::fields<2>(line);
    if (const auto key = record ? base64_decoded((*record)[0]) : std::nullopt) {
      trusted.push_back({(*record)[1], *key});
    }
  }
  return trusted;
}

}  // namespace

Phone::Phone(Behaviour behaviour, const Agent& agent, Log& log, std::optional<Asker> asker,
             std::string endpoint, const TrustedDirectory& key_directory, std::vector<Key> keys,
             const Stop& stop)
    : m_behaviour(behaviour),
      m_agent(agent),
      m_log(log),
      m_asker(std::move(asker)),
      m_endpoint(std::move(endpoint)),
      m_key_directory(key_directory),
      m_stop(stop),
      m_keys(std::move(keys)),
      m_trusted(read_trusted(key_directory)) {}

void Phone::trust(const Destination& destination, std::string_view how) {
  std::string saved;
  {
    const std::lock_guard lock(m_mutex);
    if (std::any_of(m_trusted.begin(), m_trusted.end(),
                    [&](const Destination& d) { return d.host_key == destination.host_key; })) {
      return;
    }
    m_trusted.push_back(destination);
    for (const Destination& trusted : m_trusted) {
      saved.append(zelko_ipc::join({base64_encoded(trusted.host_key), trusted.name})).append("\n");
    }
  }
  // As a shell's ">" writes it, so every check the kernel makes applies.
  const zelko_ipc::Fd file(::openat(m_key_directory.fd(), std::string(k_trusted_file).c_str(),
                                    O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (!file || !zelko_ipc::write_all(file.get(), saved)) {
    m_log.write(
        concat("derodi-sim: cannot keep the trusted destinations in ", m_key_directory.path()));
  }
  tell("trusted from now on", concat("destination ", foreign(destination.name), " (host key ",
                                     fingerprint(destination.host_key), "), ", how));
}

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

std::string Phone::refusal(Decision decision) {
  return error(decision == Decision::cancelled ? "the request was cancelled"
                                               : "the request was declined on the phone");
}

std::vector<Destination> Phone::trusted_now() const {
  const std::lock_guard lock(m_mutex);
  return m_trusted;
}

bool Phone::window_open() const {
  return m_window_expires > Clock::now();
}

std::string Phone::status() const {
  const std::lock_guard lock(m_mutex);
  std::string window;
  if (window_open()) {
    window = concat(scope_text(m_window.destinations, m_window.git), "; ",
                    expiry_text(m_window_expires, Clock::now()));
  }
  return wire::status_answer(m_endpoint, "Pixel 8 (simulated), connected",
                             m_behaviour.stale
                                 ? "STALE: never synchronised with the phone"
                                 : concat("fresh, ", std::to_string(m_keys.size()), " keys"),
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
  return error(concat("no key named ", quoted(name), " on the phone"));
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

std::expected<std::string, Phone::Decision> Phone::answer_of(const HangUpWatch& client,
                                                             std::string_view asked,
                                                             std::string_view choices,
                                                             bool refused_by_behaviour) const {
  if (m_asker) {
    std::string word;
    switch (m_asker->ask(concat(asked, "? ", choices), client, m_behaviour.answer_time, word)) {
      case Asker::Answer::answered:
        return word;
      case Asker::Answer::unanswered:
        tell("refused, no answer in time", asked);
        return std::unexpected(Decision::refused);
      case Asker::Answer::not_shown:
        tell("refused, the terminal did not take the question in time", asked);
        return std::unexpected(Decision::refused);
      case Asker::Answer::client_left:
      case Asker::Answer::stopping:
        break;
    }
  } else if (client.stays_for(m_behaviour.approval_delay)) {
    return std::string(refused_by_behaviour ? "n" : "y");
  }
  tell(m_stop.requested() ? "cancelled, the sim is stopping" : "cancelled, the client left", asked);
  return std::unexpected(Decision::cancelled);
}

Phone::Decision Phone::decide(const HangUpWatch& client, std::string_view asked,
                              bool refused_by_behaviour) const {
  const auto word = answer_of(client, asked, "[y/N]", refused_by_behaviour);
  if (!word) {
    return word.error();
  }
  if (*word == "y" || *word == "yes") {
    return Decision::approved;
  }
  tell(m_asker ? "refused on the phone" : "refused", asked);
  return Decision::refused;
}

bool Phone::approves_signature(const HangUpWatch& client, const SignatureRequest& signature) {
  const std::string asked = concat("signature with ", shown_key(signature.key_blob), ": ",
                                   signature.what, ", asked by ", signature.who);
  bool in_window = false;
  bool covered = false;
  bool trusted = false;
  {
    const std::lock_guard lock(m_mutex);
    in_window = window_open();
    const auto holds = [&](const std::vector<Destination>& list) {
      return signature.destination &&
             std::any_of(list.begin(), list.end(), [&](const Destination& d) {
               return d.host_key == signature.destination->host_key;
             });
    };
    // A window never covers what comes through a forwarded agent.
    covered = in_window && !signature.forwarded &&
              ((signature.git && m_window.git) || holds(m_window.destinations));
    trusted = holds(m_trusted);
  }
  if (covered && !m_stop.requested()) {
    tell("approved by the window", asked);
    return true;
  }
  if (m_behaviour.refuse_signatures) {
    tell(in_window ? "refused, outside the window's scope" : "refused outside a window", asked);
    return false;
  }
  // Trust is offered with a login to a verified destination.
  const bool may_trust = m_asker && signature.destination && !signature.forwarded && !trusted;
  const auto word =
      answer_of(client, asked,
                may_trust ? concat("y approves this once, t approves it and trusts ",
                                   foreign(signature.destination->name),
                                   " from now on (a window may then cover it), n refuses [y/t/N]")
                          : "[y/N]",
                false);
  if (!word) {
    return false;
  }
  if (may_trust && *word == "t") {
    trust(*signature.destination, "confirmed on the phone");
  } else if (*word != "y" && *word != "yes") {
    tell(m_asker ? "refused on the phone" : "refused", asked);
    return false;
  }
  tell("approved", asked);
  return true;
}

std::expected<Phone::Scope, Phone::Decision> Phone::choose_scope(const HangUpWatch& client,
                                                                 std::string_view asked) const {
  std::vector<Destination> trusted = trusted_now();
  if (!m_asker) {
    // Unattended, the phone grants every trusted destination and git.
    if (const Decision decided = decide(client, asked, m_behaviour.refuse);
        decided != Decision::approved) {
      return std::unexpected(decided);
    }
    return Scope{trusted, true};
  }
  // Destinations by number (nine at most) or "a" for all, "g" for git.
  std::string choices = "scope: ";
  trusted.resize(std::min<std::size_t>(trusted.size(), 9));
  for (std::size_t i = 0; i < trusted.size(); ++i) {
    choices.append(std::to_string(i + 1)).append(" ").append(foreign(trusted[i].name)).append(", ");
  }
  choices.append(trusted.empty() ? "" : "a all trusted destinations, ")
      .append("g git signatures, or several (such as 1g), n refuses [")
      .append(trusted.empty() ? "g/N]" : "1..a g/N]");
  const auto word = answer_of(client, asked, choices, false);
  if (!word) {
    return std::unexpected(word.error());
  }
  Scope scope;
  for (const char c : *word) {
    if (c == 'g') {
      scope.git = true;
    } else if (c == 'a' && !trusted.empty()) {
      scope.destinations = trusted;
    } else if (c >= '1' && static_cast<std::size_t>(c - '0') <= trusted.size()) {
      const Destination& chosen = trusted[static_cast<std::size_t>(c - '1')];
      if (std::none_of(scope.destinations.begin(), scope.destinations.end(),
                       [&](const Destination& d) { return d.host_key == chosen.host_key; })) {
        scope.destinations.push_back(chosen);
      }
    } else {
      scope = {};
      break;
    }
  }
  if (!scope.git && scope.destinations.empty()) {
    tell("refused on the phone", asked);
    return std::unexpected(Decision::refused);
  }
  return scope;
}

std::string Phone::authorize(std::uint32_t minutes, const HangUpWatch& client) {
  if (minutes == 0) {
    return error("a window needs at least one minute");
  }
  const std::string asked = concat("authorization window of ", std::to_string(minutes), " min");
  if (minutes > k_longest_window) {
    tell("refused, longer than a week", asked);
    return error(concat("a window can last at most ", std::to_string(k_longest_window),
                        " minutes (a week)"));
  }
  // Unattended, a window is for every trusted destination: it needs one.
  if (!m_asker && trusted_now().empty()) {
    tell("refused, no trusted destination", asked);
    return error("no trusted destination has been confirmed on the phone yet");
  }
  auto scope = choose_scope(client, asked);
  if (!scope) {
    return refusal(scope.error());
  }
  const std::string granted = scope_text(scope->destinations, scope->git);
  tell("approved", concat(asked, " for ", granted));
  const std::lock_guard lock(m_mutex);
  m_window_expires = Clock::now() + std::chrono::minutes(minutes);
  m_window = std::move(*scope);
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(m_window_expires.time_since_epoch());
  return wire::authorized_answer(static_cast<std::uint64_t>(seconds.count()), granted);
}

std::string Phone::generate(const ControlRequest::Generate& request, const HangUpWatch& client) {
  if (std::string fault = name_fault(request.name); !fault.empty()) {
    return error(fault);
  }
  if (request.key_type != "ed25519" && request.key_type != "rsa") {
    return error(concat("unsupported key type ", quoted(request.key_type), "; use ed25519 or rsa"));
  }
  if (request.key_type == "rsa" && request.bits != 0 &&
      (request.bits < 2048 || request.bits > 16384)) {
    return error("RSA keys must have 2048 to 16384 bits");
  }
  {
    // The name is held, so that the slow part runs without the lock.
    const std::lock_guard lock(m_mutex);
    const bool taken = m_making.contains(request.name) ||
                       std::any_of(m_keys.begin(), m_keys.end(),
                                   [&](const Key& key) { return key.name == request.name; });
    if (taken) {
      return error(concat("a key named ", quoted(request.name), " already exists"));
    }
    m_making.insert(request.name);
  }
  const auto release = [&] {
    const std::lock_guard lock(m_mutex);
    m_making.erase(request.name);
  };
  const std::string asked =
      concat("key generation of ", foreign(request.name), " (", request.key_type, ")");
  if (const Decision decided = decide(client, asked, m_behaviour.refuse);
      decided != Decision::approved) {
    release();
    return refusal(decided);
  }
  // A large RSA key takes long: it stops when the client leaves.
  auto key = make_new_key(m_key_directory, request.key_type,
                          request.bits == 0 ? 4096 : request.bits, request.name, client);
  if (!key) {
    release();
    if (!client.stays()) {
      tell(m_stop.requested() ? "approved, then cancelled, the sim is stopping"
                              : "approved, then cancelled, the client left",
           asked);
      return refusal(Decision::cancelled);
    }
    return error(concat("the phone could not make the key: ", key.error()));
  }
  if (auto added = m_agent.add(m_key_directory, *key, m_stop); !added || m_stop.requested()) {
    remove_key_files(m_key_directory, key->file);
    release();
    return added ? refusal(Decision::cancelled)
                 : error(concat("the agent refused the new key: ", added.error()));
  }
  {
    const std::lock_guard lock(m_mutex);
    m_keys.push_back(*key);
    m_making.erase(request.name);
  }
  tell("approved", concat(asked, ", made ", key->fingerprint));
  return wire::generated_answer(key->public_line, key->fingerprint, key->name);
}

void serve_control(int connection, Phone& phone, const Stop& stop) {
  const auto deadline = std::chrono::steady_clock::now() + k_request_time;
  const auto body = wire::read_frame(connection, k_max_request_length, deadline);
  if (!body) {
    if (body.error().stage == zelko_ipc::FrameError::Stage::too_long) {
      send_answer(connection, error("request too large"));
    }
    return;
  }
  if (!zelko_ipc::is_valid_utf8(*body)) {
    send_answer(connection, error("request is not UTF-8"));
    return;
  }
  const auto request = wire::decode_request(*body);
  if (!request) {
    send_answer(connection, error(request.error()));
    return;
  }
  send_answer(connection, phone.answer(*request, HangUpWatch(connection, stop)));
}

}  // namespace derodi_sim
