#include "run_program.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace zelko_test {

namespace {

std::vector<char*> c_strings(const std::vector<std::string>& strings, const std::string* first) {
  std::vector<char*> result;
  if (first != nullptr) {
    result.push_back(const_cast<char*>(first->c_str()));
  }
  for (const std::string& s : strings) {
    result.push_back(const_cast<char*>(s.c_str()));
  }
  result.push_back(nullptr);
  return result;
}

}  // namespace

RunResult run_program(const std::string& program, const std::vector<std::string>& arguments,
                      const std::vector<std::string>& environment, int timeout_seconds) {
  int out_pipe[2];
  int err_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
  // The child starts with default signal dispositions, whatever the test runner set.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

  auto argv = c_strings(arguments, &program);
  auto envp = c_strings(environment, nullptr);
  pid_t pid = 0;
  const int spawned =
      ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  if (spawned != 0) {
    ::close(out_pipe[0]);
    ::close(err_pipe[0]);
    throw std::runtime_error("cannot start " + program);
  }

  RunResult result;
  pollfd streams[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
  int open_streams = 2;
  while (open_streams > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      ::kill(pid, SIGKILL);
      break;
    }
    if (::poll(streams, 2, static_cast<int>(left.count())) < 0) {
      continue;
    }
    for (int i = 0; i < 2; ++i) {
      if (streams[i].fd < 0 || streams[i].revents == 0) {
        continue;
      }
      char chunk[65536];
      const ssize_t got = ::read(streams[i].fd, chunk, sizeof chunk);
      if (got > 0) {
        sinks[i]->append(chunk, static_cast<std::size_t>(got));
      } else {
        ::close(streams[i].fd);
        streams[i].fd = -1;
        --open_streams;
      }
    }
  }
  for (const pollfd& stream : streams) {
    if (stream.fd >= 0) {
      ::close(stream.fd);
    }
  }
  int wait_status = 0;
  ::waitpid(pid, &wait_status, 0);
  result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  return result;
}

}  // namespace zelko_test
