// derodi-sim: a stand-in for the derodi daemon with one simulated phone.

#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "agent.hpp"
#include "keyring.hpp"
#include "options.hpp"
#include "phone.hpp"
#include "server.hpp"
#include "zelko/ipc/os_error.hpp"

namespace {

using namespace derodi_sim;

volatile std::sig_atomic_t g_stop = 0;

void request_stop(int) {
  g_stop = 1;
}

void install_signal_handlers() {
  struct sigaction action {};
  action.sa_handler = request_stop;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

std::expected<void, std::string> make_directory(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    return std::unexpected("cannot create " + path + ": " + zelko_ipc::describe_os_error(errno));
  }
  return {};
}

// The keys the phone holds from the start: two ed25519 keys and one RSA key.
std::expected<std::vector<Key>, std::string> starting_keys(const std::string& directory) {
  struct Wanted {
    const char* name;
    const char* type;
    std::uint32_t bits;
  };
  constexpr Wanted wanted[] = {
      {"work", "ed25519", 0}, {"github", "ed25519", 0}, {"legacy", "rsa", 2048}};
  std::vector<Key> keys;
  for (const Wanted& w : wanted) {
    auto key = make_or_load_key(directory + "/" + w.name, w.type, w.bits, w.name,
                                std::string(w.name) + "@zelko-phone");
    if (!key) {
      return std::unexpected(key.error());
    }
    keys.push_back(std::move(*key));
  }
  return keys;
}

std::expected<void, std::string> simulate(const Options& options) {
  const std::string zelko_dir = options.runtime_dir + "/zelko";
  for (const std::string& directory : {zelko_dir, options.state_dir}) {
    if (auto made = make_directory(directory); !made) {
      return made;
    }
  }
  auto keys = starting_keys(options.state_dir);
  if (!keys) {
    return std::unexpected(keys.error());
  }
  auto agent = Agent::start(zelko_dir + "/agent.sock");
  if (!agent) {
    return std::unexpected(agent.error());
  }
  for (const Key& key : *keys) {
    if (auto added = agent->add(key.private_path); !added) {
      return added;
    }
  }
  Phone phone(options.behaviour, *agent, options.state_dir, std::move(*keys));
  auto server = Server::listen(zelko_dir + "/control.sock");
  if (!server) {
    return std::unexpected(server.error());
  }
  std::fprintf(stderr, "derodi-sim: listening on %s/control.sock, agent at %s\n", zelko_dir.c_str(),
               agent->socket_path().c_str());
  server->serve(phone, g_stop);
  std::fprintf(stderr, "derodi-sim: stopped\n");
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  install_signal_handlers();
  std::vector<std::string_view> arguments(argv + 1, argv + argc);
  const auto options = parse_options(arguments, std::getenv("XDG_RUNTIME_DIR"));
  if (!options) {
    std::fprintf(stderr, "derodi-sim: %s\n", options.error().c_str());
    return 2;
  }
  if (options->help) {
    std::fwrite(k_help.data(), 1, k_help.size(), stdout);
    return 0;
  }
  if (auto ran = simulate(*options); !ran) {
    std::fprintf(stderr, "derodi-sim: %s\n", ran.error().c_str());
    return 1;
  }
  return 0;
}
