// SPDX-License-Identifier: MIT
#include "run.hpp"

#include <array>

#include "setup.hpp"
#include "zelko/version.hpp"

namespace zelko_cli {

const std::string_view k_usage = "zelko-cli " ZELKO_CLI_VERSION R"( — talk to the Zelko daemon

USAGE:
    zelko-cli status                    Endpoint, phone, metadata, active window
    zelko-cli keys                      Keys the phone offers
    zelko-cli keys --long               ...with fingerprints
    zelko-cli keys --json               ...as JSON
    zelko-cli getpub NAME               Print an authorized_keys line
    zelko-cli getpub NAME --out FILE    ...write it to a file instead
    zelko-cli fingerprint NAME          Print one key's SHA256 fingerprint
    zelko-cli devices                   Paired phones
    zelko-cli authorize --minutes N     Ask the phone for an authorization window
    zelko-cli generate --type ed25519 --name NAME
    zelko-cli generate --type rsa --bits 4096 --name NAME
                                        Generate a key on the phone
    zelko-cli setup                     Windows: make Zelko the agent for new
                                        shells and start derodi at logon
    zelko-cli setup --undo              ...and put it back

Pairing needs the radio directly and is done with 'derodi pair'.

ENVIRONMENT:
    XDG_RUNTIME_DIR    Where the daemon's control socket lives (Linux; on
                       macOS it overrides the per-user temporary directory)
    SSH_AUTH_SOCK      Which agent ssh uses; 'status' says where it points

)";

namespace {

using Arguments = std::span<const std::string_view>;

// How many arguments may follow a command word.
enum class Arity { none, exactly_one, at_least_one, any };

struct Command {
  std::string_view word;
  Arity arity;
  Outcome (*handle)(Arguments arguments, Console& console);
};

Outcome print_usage(Arguments, Console& console) {
  console.out.text(k_usage);
  return {};
}

Outcome print_version(Arguments, Console& console) {
  console.out.text("zelko-cli " ZELKO_CLI_VERSION "\n");
  return {};
}

Outcome run_keys(Arguments arguments, Console& console) {
  bool long_listing = false;
  bool json = false;
  for (const std::string_view flag : arguments) {
    if (flag == "--long") {
      long_listing = true;
    } else if (flag == "--json") {
      json = true;
    } else {
      return std::unexpected(Message("unknown flag ").quoted(flag));
    }
  }
  return keys(console, long_listing, json);
}

Outcome run_getpub(Arguments arguments, Console& console) {
  if (arguments.size() == 1) {
    return getpub(console, arguments[0], std::nullopt);
  }
  if (arguments.size() == 3 && arguments[1] == "--out") {
    return getpub(console, arguments[0], arguments[2]);
  }
  return std::unexpected(Message("usage: zelko-cli getpub NAME [--out FILE]"));
}

Outcome run_pair(Arguments, Console&) {
  return std::unexpected(
      Message("pairing needs the radio directly; run 'derodi pair' with the daemon stopped"));
}

constexpr std::array k_commands = {
    Command{"help", Arity::none, print_usage},
    Command{"--help", Arity::none, print_usage},
    Command{"-h", Arity::none, print_usage},
    Command{"--version", Arity::none, print_version},
    Command{"-V", Arity::none, print_version},
    Command{"status", Arity::none, [](Arguments, Console& c) { return status(c); }},
    Command{"keys", Arity::any, run_keys},
    Command{"getpub", Arity::at_least_one, run_getpub},
    Command{"fingerprint", Arity::exactly_one,
            [](Arguments a, Console& c) { return fingerprint(c, a[0]); }},
    Command{"devices", Arity::none, [](Arguments, Console& c) { return devices(c); }},
    Command{"authorize", Arity::any, [](Arguments a, Console& c) { return authorize(c, a); }},
    Command{"generate", Arity::any, [](Arguments a, Console& c) { return generate(c, a); }},
    Command{"setup", Arity::any,
            [](Arguments a, Console&) { return setup::run(a, setup::daemon_answers); }},
    Command{"pair", Arity::any, run_pair},
};

bool fits(Arity arity, std::size_t count) {
  switch (arity) {
    case Arity::none:
      return count == 0;
    case Arity::exactly_one:
      return count == 1;
    case Arity::at_least_one:
      return count >= 1;
    case Arity::any:
      return true;
  }
  return false;
}

}  // namespace

Outcome run(Arguments arguments, Console& console) {
  if (arguments.empty()) {
    return print_usage(arguments, console);
  }
  const std::string_view word = arguments[0];
  const Arguments rest = arguments.subspan(1);
  for (const Command& command : k_commands) {
    if (command.word == word && fits(command.arity, rest.size())) {
      return command.handle(rest, console);
    }
  }
  return std::unexpected(Message("unknown command ").quoted(word).own("; try --help"));
}

}  // namespace zelko_cli
