// SPDX-License-Identifier: MIT
// derodi-sim: a stand-in for the derodi daemon with one simulated phone:
// its start, on directories it trusts, and its stop.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "agent.hpp"
#include "agent_proxy.hpp"
#include "known_hosts.hpp"
#include "log.hpp"
#include "options.hpp"
#include "phone.hpp"
#include "ready_notice.hpp"
#include "server.hpp"
#include "stop_signals.hpp"
#include "text.hpp"
#include "zelko/ipc/unix_socket.hpp"

namespace derodi_sim {

namespace {

// What the sim starts on, found before it touches anything.
struct Found {
  TrustedDirectory zelko;
  std::optional<std::expected<TrustedDirectory, std::string>> state;  // none for the default one
  std::optional<Asker> asker;
  std::vector<std::string> known_hosts_files;  // the user's, read afresh at every bind
  std::vector<Destination> trusted;            // named with --trust-destination
  std::vector<std::string> notes;              // for the log, once there is one
};

// The destinations --trust-destination names, by their known host keys.
std::expected<std::vector<Destination>, std::string> named_destinations(
    const Options& options, const std::vector<std::string>& files,
    std::vector<std::string>& notes) {
  std::vector<Destination> named;
  for (const std::string& name : options.trusted) {
    const auto keys = host_keys_of(name, files, notes);
    if (keys.empty()) {
      return std::unexpected(concat("--trust-destination ", foreign(name),
                                    ": no host key for it in ", foreign(files.front()),
                                    files.size() > 1 ? " nor " : "", foreign(files.back())));
    }
    for (const std::string& key : keys) {
      named.push_back({name, key});
    }
  }
  return named;
}

std::expected<Found, std::string> find_before_starting(const Options& options,
                                                       const std::string& zelko_path) {
  for (const std::string socket : {"/control.sock", "/agent.sock"}) {
    if (auto fits = check_socket_path(zelko_path + socket); !fits) {
      return std::unexpected(fits.error());
    }
  }
  auto zelko = TrustedDirectory::find(zelko_path);
  if (!zelko) {
    return std::unexpected(zelko.error());
  }
  std::optional<std::expected<TrustedDirectory, std::string>> state;
  if (!options.state_dir_is_default) {
    state = TrustedDirectory::find(options.state_dir);
    if (!*state) {
      return std::unexpected(state->error());
    }
  }
  std::optional<Asker> asker;
  if (options.behaviour.ask) {
    auto opened = Asker::open();
    if (!opened) {
      return std::unexpected(opened.error());
    }
    asker.emplace(std::move(*opened));
  }
  auto files = default_known_hosts_files();
  std::vector<std::string> notes;
  auto trusted = named_destinations(options, files, notes);
  if (!trusted) {
    return std::unexpected(trusted.error());
  }
  return Found{std::move(*zelko), std::move(state),    std::move(asker),
               std::move(files),  std::move(*trusted), std::move(notes)};
}

// Runs the sim until a stop or its agent's end; why it could not start or
// had to stop.
std::expected<void, std::string> simulate(const Options& options) {
  const std::string zelko_path = options.runtime_dir + "/zelko";
  const std::string control_path = zelko_path + "/control.sock";
  const std::string endpoint = zelko_path + "/agent.sock";
  auto found = find_before_starting(options, zelko_path);
  if (!found) {
    return std::unexpected(found.error());
  }
  auto stop = Stop::make();
  if (!stop) {
    return std::unexpected(stop.error());
  }
  catch_stop_signals(*stop);
  if (auto made = found->zelko.make(); !made) {
    return made;
  }
  const TrustedDirectory& zelko = found->zelko;
  // One sim per runtime directory: one that cannot take the lock, or finds
  // a daemon answering, touches nothing.
  if (!zelko.lock() || zelko_ipc::connect_unix(zelko.through_fd("control.sock"))) {
    return std::unexpected("a daemon already answers on " + control_path);
  }
  auto state = found->state ? std::move(*found->state) : TrustedDirectory::find(options.state_dir);
  if (!state) {
    return std::unexpected(state.error());
  }
  if (auto made = state->make(); !made) {
    return made;
  }
  // Two sims starting on one new state directory would both make its keys.
  if (!state->lock()) {
    return std::unexpected(
        concat("another derodi-sim holds the state directory ", options.state_dir));
  }
  // The sim's own state directory goes at the end, unless it is to be kept.
  const auto remove_state = [](const TrustedDirectory* in) { in->remove(k_default_state_name); };
  const std::unique_ptr<const TrustedDirectory, decltype(remove_state)> own_state(
      options.state_dir_is_default && !options.keep_state ? &zelko : nullptr, remove_state);
  // SSH clients reach the real agent through the endpoint, which asks the
  // phone. It is forked, so it starts before any thread does.
  auto agent = Agent::start(zelko, *stop);
  if (!agent) {
    return std::unexpected(agent.error());
  }
  Log log(STDERR_FILENO);
  auto keys = load_phone_keys(*state, *stop);
  if (!keys) {
    return std::unexpected(keys.error());
  }
  for (const auto& notes : {found->notes, keys->skipped}) {
    for (const std::string& note : notes) {
      log.write(note);
    }
  }
  for (const Key& key : keys->keys) {
    if (auto added = agent->add(*state, key, *stop); !added) {
      return std::unexpected(added.error());
    }
  }
  Phone phone(options.behaviour, *agent, log, std::move(found->asker), endpoint, *state,
              std::move(keys->keys), *stop);
  for (const Destination& destination : found->trusted) {
    phone.trust(destination, "named at the start");
  }
  auto control_listener = Listener::open(zelko, "control.sock");
  if (!control_listener) {
    return std::unexpected(control_listener.error());
  }
  auto agent_listener = Listener::open(zelko, "agent.sock");
  if (!agent_listener) {
    return std::unexpected(agent_listener.error());
  }
  const AgentRoute route{agent->socket_path(), found->known_hosts_files, log};
  Server control(
      std::move(*control_listener), [&](int fd) { serve_control(fd, phone, *stop); }, *stop);
  Server agent_endpoint(
      std::move(*agent_listener), [&](int fd) { serve_agent(fd, route, phone, *stop); }, *stop);
  log.write("derodi-sim: listening on " + control_path + ", agent at " + endpoint);
  std::optional<ReadyNotice> ready;
  if (!options.ready_file.empty()) {
    ready.emplace(options.ready_file, endpoint + "\n", [&log](const std::string& why) {
      log.write("derodi-sim: cannot write the ready file: " + why);
    });
  }
  auto ended = agent->tell_errors(log, options.behaviour.quiet, *stop);
  // Nothing is granted from now on; the agent goes first, so that no
  // proxy waits on it.
  ready.reset();
  agent->stop();
  control.stop();
  agent_endpoint.stop();
  if (ended) {
    log.write("derodi-sim: stopped");
  }
  return ended;
}

// The --ready-file of arguments that may not parse.
std::string ready_file_named(const std::vector<std::string_view>& arguments) {
  for (std::size_t i = 0; i + 1 < arguments.size(); ++i) {
    if (arguments[i] == "--ready-file") {
      return std::string(arguments[i + 1]);
    }
  }
  return {};
}

}  // namespace
}  // namespace derodi_sim

int main(int argc, char** argv) {
  using namespace derodi_sim;
  open_standard_descriptors();
  const std::vector<std::string_view> arguments(argv + 1, argv + argc);
  const auto options = parse_options(arguments, std::getenv("XDG_RUNTIME_DIR"));
  if (!options) {
    std::fprintf(stderr, "derodi-sim: %s\n", options.error().c_str());
    ReadyNotice::let_waiting_reader_go(ready_file_named(arguments));
    return 2;
  }
  if (options->help) {
    std::fwrite(k_help.data(), 1, k_help.size(), stdout);
    return 0;
  }
  if (auto ran = simulate(*options); !ran) {
    std::fprintf(stderr, "derodi-sim: %s\n", ran.error().c_str());
    stop_at_once_on_signals();
    ReadyNotice::let_waiting_reader_go(options->ready_file);
    return 1;
  }
  return 0;
}
