// SPDX-License-Identifier: MIT
#include "options.hpp"

#include "text.hpp"
#include "zelko/ipc/decimal.hpp"

namespace derodi_sim {

const std::string_view k_help =
    R"(derodi-sim — a stand-in for the derodi daemon, for demos and tests

USAGE:
    derodi-sim [FLAGS]

Simulates one paired phone with real OpenSSH keys, served by a real ssh-agent
behind $XDG_RUNTIME_DIR/zelko/agent.sock, where every signature asks the phone
first, and answers zelko-cli on $XDG_RUNTIME_DIR/zelko/control.sock until
SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2 or SIGALRM. The phone
decides on its own or asks you (--ask), and tells each decision on standard
error: what is signed (a login names its host as known_hosts does, once the
agent has verified its key), with which key, and which program asked.
A destination is trusted with --trust-destination or on the phone (--ask); an
authorization window covers the scope chosen on the phone: trusted
destinations, git signatures, or both (unattended: all of them). A window
never covers a revoked host key, nor a signature through a forwarded agent.
Every directory from / to $XDG_RUNTIME_DIR/zelko and the --state-dir, links
included, must be root's or its user's and writable by nobody else (sticky
ones excepted), the last its user's alone. The README tells the rest.

FLAGS:
    --runtime-dir DIR           Use DIR instead of $XDG_RUNTIME_DIR
    --state-dir DIR             Keep the phone's keys in DIR, and load them at
                                the next start (default: one in the runtime
                                directory, removed on exit)
    --keep-state                Keep the default state directory on exit too
    --ready-file PATH           Once listening, write the agent endpoint and a
                                newline to PATH (a FIFO to wait on; a sim that
                                cannot start ends it without a line)
    --ask                       Ask on this terminal about every approval and
                                a window's scope
    --ask-time SECONDS          The time to answer (1 to 3600, default 60)
    --stale                     Key metadata is STALE: keys say so, getpub fails
    --refuse                    The phone declines every window and key
    --trust-destination NAME    Trust the host NAME by the keys your known_hosts
                                files hold for it (repeatable)
    --refuse-signatures         Refuse every signature no window covers
    --approval-delay SECONDS    The phone decides after SECONDS (0 to 3600,
                                default 0)
    --quiet                     Print neither the phone's decisions nor the
                                agent's messages
    -h, --help                  Print this help
)";

namespace {

// The value of a flag that takes seconds, from `least` to 3600.
std::expected<std::chrono::seconds, std::string> seconds_of(std::string_view value,
                                                            std::uint64_t least) {
  const auto seconds = zelko_ipc::parse_unsigned_decimal(value, 3600);
  if (!seconds || *seconds < least) {
    return std::unexpected(
        concat(quoted(value), " is not a number of seconds (", std::to_string(least), " to 3600)"));
  }
  return std::chrono::seconds(*seconds);
}

}  // namespace

std::expected<Options, std::string> parse_options(std::span<const std::string_view> arguments,
                                                  const char* runtime_dir_env) {
  Options options;
  if (runtime_dir_env != nullptr) {
    options.runtime_dir = runtime_dir_env;
  }
  bool state_dir_given = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view flag = arguments[i];
    const bool has_value = i + 1 < arguments.size();
    if (flag == "-h" || flag == "--help") {
      options.help = true;
    } else if (flag == "--stale") {
      options.behaviour.stale = true;
    } else if (flag == "--refuse") {
      options.behaviour.refuse = true;
    } else if (flag == "--refuse-signatures") {
      options.behaviour.refuse_signatures = true;
    } else if (flag == "--ask") {
      options.behaviour.ask = true;
    } else if (flag == "--quiet") {
      options.behaviour.quiet = true;
    } else if (flag == "--keep-state") {
      options.keep_state = true;
    } else if (flag == "--runtime-dir" && has_value) {
      options.runtime_dir = arguments[++i];
    } else if (flag == "--state-dir" && has_value) {
      options.state_dir = arguments[++i];
      state_dir_given = true;
    } else if (flag == "--trust-destination" && has_value) {
      options.trusted.emplace_back(arguments[++i]);
    } else if (flag == "--ready-file" && has_value) {
      options.ready_file = arguments[++i];
    } else if ((flag == "--ask-time" || flag == "--approval-delay") && has_value) {
      const auto seconds = seconds_of(arguments[++i], flag == "--ask-time" ? 1 : 0);
      if (!seconds) {
        return std::unexpected(seconds.error());
      }
      (flag == "--ask-time" ? options.behaviour.answer_time : options.behaviour.approval_delay) =
          *seconds;
    } else {
      return std::unexpected(
          concat("unknown flag or missing value: ", quoted(flag), "; try --help"));
    }
  }
  if (options.help) {
    return options;
  }
  if (options.runtime_dir.empty()) {
    return std::unexpected(std::string("XDG_RUNTIME_DIR is not set; give --runtime-dir DIR"));
  }
  if (state_dir_given) {
    // A directory the user names is the user's: its keys stay.
    options.keep_state = true;
  } else {
    options.state_dir = concat(options.runtime_dir, "/zelko/", k_default_state_name);
    options.state_dir_is_default = true;
  }
  return options;
}

}  // namespace derodi_sim
