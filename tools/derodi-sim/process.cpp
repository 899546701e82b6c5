// SPDX-License-Identifier: MIT
#include "process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "zelko/ipc/os_error.hpp"

extern char** environ;

namespace derodi_sim {

namespace {

std::vector<char*> pointers(const std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (const std::string& s : strings) {
    result.push_back(const_cast<char*>(s.c_str()));
  }
  result.push_back(nullptr);
  return result;
}

std::string_view name_of(std::string_view entry) {
  return entry.substr(0, entry.find('='));
}

// Names whose values lead an OpenSSH tool to an agent or to a user.
bool leads_elsewhere(std::string_view name) {
  return name == "SSH_AUTH_SOCK" || name == "SSH_AGENT_PID" || name.starts_with("SSH_ASKPASS");
}

// Reads both streams to their end; false when `give_up` said so first.
bool read_both(int out_fd, int err_fd, std::string& out, std::string& err,
               const std::function<bool()>& give_up) {
  pollfd streams[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* sinks[2] = {&out, &err};
  int open_streams = 2;
  while (open_streams > 0) {
    if (give_up()) {
      return false;
    }
    if (::poll(streams, 2, 100) < 0 && errno != EINTR) {
      return true;
    }
    for (int i = 0; i < 2; ++i) {
      if (streams[i].fd < 0 || streams[i].revents == 0) {
        continue;
      }
      char chunk[4096];
      const ssize_t got = ::read(streams[i].fd, chunk, sizeof chunk);
      if (got > 0) {
        sinks[i]->append(chunk, static_cast<std::size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        streams[i].fd = -1;
        --open_streams;
      }
    }
  }
  return true;
}

// Starts `args` with `envp`, standard input from /dev/null and standard
// output and error into `out` and `err`. The program gets SIGKILL when the
// calling thread ends. Returns its id, or -1.
pid_t spawn(const std::vector<char*>& args, const std::vector<char*>& envp, int out, int err) {
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent) {
      ::_exit(127);
    }
    const int null = ::open("/dev/null", O_RDONLY);
    if (null < 0 || ::dup2(null, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) {
      ::_exit(127);
    }
    ::execvpe(args[0], args.data(), envp.data());
    ::_exit(127);
  }
  return pid;
}

}  // namespace

std::vector<std::string> child_environment(const std::vector<std::string>& settings) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view name = name_of(*entry);
    bool replaced = false;
    for (const std::string& setting : settings) {
      replaced = replaced || name_of(setting) == name;
    }
    if (!replaced && !leads_elsewhere(name)) {
      environment.emplace_back(*entry);
    }
  }
  environment.insert(environment.end(), settings.begin(), settings.end());
  return environment;
}

std::expected<std::string, std::string> run_captured(const std::vector<std::string>& argv,
                                                     const std::vector<std::string>& settings,
                                                     std::chrono::seconds time_limit,
                                                     const std::function<bool()>& abandoned) {
  int out_pipe[2];
  int err_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0) {
    return std::unexpected(zelko_ipc::describe_os_error(errno));
  }
  if (::pipe2(err_pipe, O_CLOEXEC) != 0) {
    ::close(out_pipe[0]);
    ::close(out_pipe[1]);
    return std::unexpected(zelko_ipc::describe_os_error(errno));
  }
  const auto args = pointers(argv);
  const auto environment = child_environment(settings);
  const auto envp = pointers(environment);
  const pid_t pid = spawn(args, envp, out_pipe[1], err_pipe[1]);
  const int spawn_error = errno;
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  const auto deadline = std::chrono::steady_clock::now() + time_limit;
  bool late = false;
  const auto give_up = [&] {
    late = std::chrono::steady_clock::now() > deadline;
    return late || (abandoned && abandoned());
  };
  std::string out;
  std::string err;
  const bool finished = pid < 0 || read_both(out_pipe[0], err_pipe[0], out, err, give_up);
  ::close(out_pipe[0]);
  ::close(err_pipe[0]);
  if (pid < 0) {
    return std::unexpected("cannot run " + argv[0] + ": " +
                           zelko_ipc::describe_os_error(spawn_error));
  }
  if (!finished) {
    ::kill(pid, SIGKILL);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!finished) {
    return std::unexpected(late ? argv[0] + " did not finish within " +
                                      std::to_string(time_limit.count()) + " s"
                                : argv[0] + " was stopped: the request was abandoned");
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    while (!err.empty() && (err.back() == '\n' || err.back() == '\r')) {
      err.pop_back();
    }
    return std::unexpected(argv[0] + " failed" + (err.empty() ? "" : ": " + err));
  }
  return out;
}

namespace {

// The guardian: the forked child that sees to it that `argv`'s program ends
// when the sim does. Execution of a set-group-ID program (Debian's
// ssh-agent is one) clears the parent-death signal, so the guardian keeps
// it, runs the program as a child of its own, and passes the signal on.
[[noreturn]] void guard(const std::vector<char*>& argv, const std::vector<char*>& envp, pid_t sim,
                        int errors) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGCHLD);
  ::sigprocmask(SIG_BLOCK, &signals, nullptr);
  // Told to end when the sim does, SIGKILL included; a sim that is already
  // gone by now will never tell it.
  if (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || ::getppid() != sim) {
    ::_exit(127);
  }
  // Named apart from the sim, so that stopping the sim by name leaves it to
  // do its work; and in a process group of its own, so that a signal to the
  // sim's group (a shell's "kill %1", Ctrl-C) reaches the sim, which then
  // stops the agent in order.
  ::prctl(PR_SET_NAME, "agent-guard");
  ::setpgid(0, 0);
  const int null = ::open("/dev/null", O_RDWR);
  // Nothing of the program's reaches the terminal: its errors go to the
  // sim, which tells them, so it can never be stopped for writing there.
  if (null < 0 || ::dup2(null, 0) < 0 || ::dup2(null, 1) < 0 || ::dup2(errors, 2) < 0) {
    ::_exit(127);
  }
  const pid_t program = ::fork();
  if (program < 0) {
    ::_exit(127);
  }
  if (program == 0) {
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execvpe(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  while (true) {
    int signal = 0;
    if (::sigwait(&signals, &signal) != 0) {
      continue;
    }
    if (signal != SIGCHLD) {
      // A stopped program acts on SIGTERM only once it is continued.
      ::kill(program, SIGTERM);
      ::kill(program, SIGCONT);
    }
    int status = 0;
    if (::waitpid(program, &status, signal == SIGCHLD ? WNOHANG : 0) == program) {
      ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128);
    }
  }
}

}  // namespace

std::expected<Child, std::string> start_child(const std::vector<std::string>& argv) {
  const auto args = pointers(argv);
  const auto environment = child_environment();
  const auto envp = pointers(environment);
  int errors[2];
  if (::pipe2(errors, O_CLOEXEC) != 0) {
    return std::unexpected("cannot start " + argv[0] + ": " + zelko_ipc::describe_os_error(errno));
  }
  const pid_t sim = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    guard(args, envp, sim, errors[1]);
  }
  ::close(errors[1]);
  if (pid < 0) {
    ::close(errors[0]);
    return std::unexpected("cannot start " + argv[0] + ": " + zelko_ipc::describe_os_error(errno));
  }
  return Child{pid, zelko_ipc::Fd(errors[0])};
}

}  // namespace derodi_sim
