#include "options.hpp"

#include <limits>

#include "zelko/ipc/decimal.hpp"

namespace derodi_sim {

const std::string_view k_help =
    R"(derodi-sim — a stand-in for the derodi daemon, for demos and tests

USAGE:
    derodi-sim [FLAGS]

Simulates one paired phone with real keys: makes OpenSSH keys with ssh-keygen,
serves them through a real ssh-agent at $XDG_RUNTIME_DIR/zelko/agent.sock and
answers zelko-cli on $XDG_RUNTIME_DIR/zelko/control.sock until SIGINT or SIGTERM.

FLAGS:
    --runtime-dir DIR           Use DIR instead of $XDG_RUNTIME_DIR
    --state-dir DIR             Keep the phone's key files in DIR
                                (default: <runtime dir>/zelko/sim-state; kept
                                keys are reused at the next start)
    --stale                     Key metadata is STALE: keys show it and getpub fails
    --refuse                    The phone declines every approval
                                (authorize and generate)
    --refuse-trusted-destination
                                Authorization windows fail for want of a
                                trusted destination
    --approval-delay SECONDS    Wait SECONDS before each approval answers
    -h, --help                  Print this help
)";

std::expected<Options, std::string> parse_options(std::span<const std::string_view> arguments,
                                                  const char* runtime_dir_env) {
  Options options;
  if (runtime_dir_env != nullptr) {
    options.runtime_dir = runtime_dir_env;
  }
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view flag = arguments[i];
    const bool has_value = i + 1 < arguments.size();
    if (flag == "-h" || flag == "--help") {
      options.help = true;
    } else if (flag == "--stale") {
      options.behaviour.stale = true;
    } else if (flag == "--refuse") {
      options.behaviour.refuse = true;
    } else if (flag == "--refuse-trusted-destination") {
      options.behaviour.refuse_trusted_destination = true;
    } else if (flag == "--runtime-dir" && has_value) {
      options.runtime_dir = arguments[++i];
    } else if (flag == "--state-dir" && has_value) {
      options.state_dir = arguments[++i];
    } else if (flag == "--approval-delay" && has_value) {
      const std::string_view value = arguments[++i];
      const auto seconds = zelko_ipc::parse_unsigned_decimal(value, 3600);
      if (!seconds) {
        return std::unexpected("'" + std::string(value) +
                               "' is not a number of seconds (0 to 3600)");
      }
      options.behaviour.approval_delay_seconds = static_cast<unsigned>(*seconds);
    } else {
      return std::unexpected("unknown flag or missing value: '" + std::string(flag) +
                             "'; try --help");
    }
  }
  if (options.help) {
    return options;
  }
  if (options.runtime_dir.empty()) {
    return std::unexpected(std::string("XDG_RUNTIME_DIR is not set; give --runtime-dir DIR"));
  }
  if (options.state_dir.empty()) {
    options.state_dir = options.runtime_dir + "/zelko/sim-state";
  }
  return options;
}

}  // namespace derodi_sim
