// SPDX-License-Identifier: MIT
#include "cli_fixture.hpp"

namespace zelko_test {

void CliTest::serve(Script script) {
  daemon.reset();
  daemon = std::make_unique<ScriptedDaemon>(runtime.path(), std::move(script));
}

RunResult CliTest::run(const std::vector<std::string>& arguments,
                       const std::vector<std::string>& environment) {
  std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + runtime.path(), "LC_ALL=C"};
  env.insert(env.end(), environment.begin(), environment.end());
  RunResult result = run_program(cli_path(), arguments, env);
  if (daemon) {
    daemon->wait_idle();
  }
  return result;
}

int CliTest::connections() const {
  return daemon ? daemon->connections() : 0;
}

std::string CliTest::received() const {
  return daemon ? daemon->received() : std::string();
}

}  // namespace zelko_test
