// SPDX-License-Identifier: MIT
// derodi-sim: a stand-in for the derodi daemon with one simulated phone.

#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "options.hpp"
#include "ready_notice.hpp"
#include "simulation.hpp"
#include "stop_signals.hpp"

namespace {

// The --ready-file of arguments that may not parse, for a sim that cannot
// start to let its reader go.
std::string ready_file_named(const std::vector<std::string_view>& arguments) {
  for (std::size_t i = 0; i + 1 < arguments.size(); ++i) {
    if (arguments[i] == "--ready-file") {
      return std::string(arguments[i + 1]);
    }
  }
  return {};
}

}  // namespace

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
