// SPDX-License-Identifier: MIT
#include <cerrno>
#include <csignal>
#include <cstring>
#include <string_view>
#include <vector>

#include "console.hpp"
#include "run.hpp"
#include "zelko/ipc/utf8.hpp"

namespace {

using zelko_cli::Message;
using zelko_cli::Outcome;

// Arguments are handled as text, so bytes that are not UTF-8 end the run
// before anything else happens.
Outcome check_utf8(std::span<const std::string_view> arguments) {
  for (const std::string_view argument : arguments) {
    if (!zelko_ipc::is_valid_utf8(argument)) {
      return std::unexpected(Message("argument ")
                                 .quoted(zelko_ipc::to_utf8_lossy(argument))
                                 .own(" is not valid UTF-8"));
    }
  }
  return {};
}

// How a run ends: with its outcome, or quietly when the reader of the
// report has gone away.
struct Ending {
  Outcome outcome;
  bool reader_gone = false;
};

Ending run_and_report(std::span<const std::string_view> arguments, zelko_cli::Console& console) {
  if (auto valid = check_utf8(arguments); !valid) {
    return {std::move(valid)};
  }
  if (auto outcome = zelko_cli::run(arguments, console); !outcome) {
    return {std::move(outcome)};
  }
  // A report that never reached its reader is a failure, not a success;
  // a reader that stopped reading (`| head`) needs no message about it.
  if (auto flushed = console.out.flush(); !flushed) {
    if (flushed.error().code == EPIPE) {
      return {Outcome(), true};
    }
    return {
        std::unexpected(Message("cannot write to standard output: ").own(flushed.error().text))};
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  // A daemon that hangs up early must make a write fail, not end the
  // process; so must a file that outgrows the size limit.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);

  std::vector<std::string_view> arguments;
  arguments.reserve(static_cast<std::size_t>(argc));
  for (int i = 1; i < argc; ++i) {
    arguments.emplace_back(argv[i], std::strlen(argv[i]));
  }

  zelko_cli::Console console;
  const Ending ending = run_and_report(arguments, console);
  if (ending.reader_gone) {
    return 1;
  }
  if (ending.outcome) {
    return 0;
  }
  console.err.text("zelko-cli: ").message(ending.outcome.error()).text("\n");
  (void)console.err.flush();
  return 1;
}
