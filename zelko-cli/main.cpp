#include <csignal>
#include <cstring>
#include <string_view>
#include <vector>

#include "console.hpp"
#include "run.hpp"
#include "zelko/ipc/utf8.hpp"

namespace {

using zelko_cli::Outcome;

// Arguments are handled as text, so bytes that are not UTF-8 end the run
// before anything else happens.
Outcome check_utf8(std::span<const std::string_view> arguments) {
  for (const std::string_view argument : arguments) {
    if (!zelko_ipc::is_valid_utf8(argument)) {
      return std::unexpected("argument '" + zelko_ipc::to_utf8_lossy(argument) +
                             "' is not valid UTF-8");
    }
  }
  return {};
}

Outcome run_and_report(std::span<const std::string_view> arguments, zelko_cli::Console& console) {
  if (auto valid = check_utf8(arguments); !valid) {
    return valid;
  }
  if (auto outcome = zelko_cli::run(arguments, console); !outcome) {
    return outcome;
  }
  // A report that never reached its reader is a failure, not a success.
  if (auto flushed = console.out.flush(); !flushed) {
    return std::unexpected("cannot write to standard output: " + flushed.error());
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  // A daemon that hangs up early must make a write fail, not end the process.
  std::signal(SIGPIPE, SIG_IGN);

  std::vector<std::string_view> arguments;
  arguments.reserve(static_cast<std::size_t>(argc));
  for (int i = 1; i < argc; ++i) {
    arguments.emplace_back(argv[i], std::strlen(argv[i]));
  }

  zelko_cli::Console console;
  const Outcome outcome = run_and_report(arguments, console);
  if (outcome) {
    return 0;
  }
  console.err.text("zelko-cli: ").field(outcome.error()).text("\n");
  (void)console.err.flush();
  return 1;
}
