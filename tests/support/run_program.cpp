// SPDX-License-Identifier: MIT
#include "run_program.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace zelko_test {

namespace {

std::vector<char*> c_strings(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (std::string& s : strings) {
    result.push_back(s.data());
  }
  result.push_back(nullptr);
  return result;
}

// One output stream of the child: the end it writes to and the end we read.
struct Channel {
  int read_end = -1;
  int write_end = -1;
};

Channel open_channel(bool terminal, bool packets = false) {
  int ends[2];
  if (packets) {
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) {
      throw std::runtime_error("socketpair failed");
    }
  } else if (terminal) {
    if (::openpty(&ends[0], &ends[1], nullptr, nullptr, nullptr) != 0) {
      throw std::runtime_error("openpty failed");
    }
    termios mode{};
    ::tcgetattr(ends[1], &mode);
    ::cfmakeraw(&mode);
    ::tcsetattr(ends[1], TCSANOW, &mode);
    ::fcntl(ends[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(ends[1], F_SETFD, FD_CLOEXEC);
  } else if (::pipe2(ends, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  return {ends[0], ends[1]};
}

// The command line to run: zelko-cli under the test wrapper when one is set.
std::vector<std::string> command_line(const std::string& program,
                                      const std::vector<std::string>& arguments) {
  std::vector<std::string> argv;
  const char* wrapper = std::getenv("ZELKO_TEST_WRAPPER");
  if (wrapper != nullptr && *wrapper != '\0' && program == cli_path()) {
    std::istringstream words(wrapper);
    for (std::string word; words >> word;) {
      argv.push_back(word);
    }
  }
  argv.push_back(program);
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return argv;
}

void collect(Channel (&channels)[2], RunResult& result, pid_t pid, int timeout_seconds,
             const OutputPlan& plan) {
  pollfd streams[2] = {{channels[0].read_end, POLLIN, 0}, {channels[1].read_end, POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  // Room for any one write the program makes, so that a packet arrives whole.
  std::vector<char> chunk(1 << 18);
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
      const ssize_t got = ::read(streams[i].fd, chunk.data(), chunk.size());
      if (got > 0) {
        sinks[i]->append(chunk.data(), static_cast<std::size_t>(got));
        result.out_writes += i == 0 ? 1 : 0;
        if (i == 0 && result.out.size() >= plan.read_at_most) {
          // The reader goes away, as `head` does.
          result.out.resize(plan.read_at_most);
          ::close(channels[0].read_end);
          channels[0].read_end = streams[0].fd = -1;
          --open_streams;
        }
      } else {
        // A pipe ends with 0; a terminal whose other side has closed with EIO.
        streams[i].fd = -1;
        --open_streams;
      }
    }
  }
}

}  // namespace

std::string find_on_path(const std::string& tool) {
  const char* path = std::getenv("PATH");
  std::istringstream directories(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string directory; std::getline(directories, directory, ':');) {
    const std::string candidate = (directory.empty() ? "." : directory) + "/" + tool;
    if (::access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
  }
  return {};
}

std::string cli_path() {
  const char* chosen = std::getenv("ZELKO_TEST_CLI");
  return chosen != nullptr && *chosen != '\0' ? chosen : ZELKO_CLI_PATH;
}

RunResult run_program(const std::string& program, const std::vector<std::string>& arguments,
                      const std::vector<std::string>& environment, int timeout_seconds,
                      Terminals terminals, OutputPlan plan) {
  Channel channels[2] = {open_channel(terminals.out, plan.count_writes),
                         open_channel(terminals.err)};
  if (plan.non_blocking) {
    ::fcntl(channels[0].write_end, F_SETFL, O_NONBLOCK);
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, channels[0].write_end, 1);
  posix_spawn_file_actions_adddup2(&actions, channels[1].write_end, 2);
  // The child starts with default signal dispositions, whatever the test runner set.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

  std::vector<std::string> argv_strings = command_line(program, arguments);
  std::vector<std::string> env_strings = environment;
  auto argv = c_strings(argv_strings);
  auto envp = c_strings(env_strings);
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  for (const Channel& channel : channels) {
    ::close(channel.write_end);
  }
  RunResult result;
  if (spawned == 0) {
    if (plan.non_blocking) {
      // Late enough for the program to fill the pipe.
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    collect(channels, result, pid, timeout_seconds, plan);
  }
  for (const Channel& channel : channels) {
    if (channel.read_end >= 0) {
      ::close(channel.read_end);
    }
  }
  if (spawned != 0) {
    throw std::runtime_error("cannot start " + argv_strings[0]);
  }
  int wait_status = 0;
  ::waitpid(pid, &wait_status, 0);
  result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  return result;
}

}  // namespace zelko_test
