// SPDX-License-Identifier: MIT
#include "process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

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

// The sim's environment without what leads elsewhere, then `settings`
// ("NAME=value"), each replacing an entry of its name.
std::vector<std::string> child_environment(const std::vector<std::string>& settings = {}) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view name = name_of(*entry);
    const bool replaced = std::any_of(settings.begin(), settings.end(),
                                      [&](const std::string& s) { return name_of(s) == name; });
    if (!replaced && !leads_elsewhere(name)) {
      environment.emplace_back(*entry);
    }
  }
  environment.insert(environment.end(), settings.begin(), settings.end());
  return environment;
}

// The signals the sim ignores, which its children get back as they were.
constexpr std::array k_ignored_here = {SIGPIPE, SIGTTOU, SIGTTIN};

std::expected<std::array<zelko_ipc::Fd, 2>, std::string> make_pipe() {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    return std::unexpected(zelko_ipc::describe_os_error(errno));
  }
  return std::array{zelko_ipc::Fd(ends[0]), zelko_ipc::Fd(ends[1])};
}

// The file actions and attributes of one spawn, released at the end.
class Spawn {
 public:
  Spawn() {
    posix_spawn_file_actions_init(&m_actions);
    posix_spawnattr_init(&m_attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int signal : k_ignored_here) {
      sigaddset(&defaults, signal);
    }
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&m_attributes, &defaults);
    posix_spawnattr_setsigmask(&m_attributes, &none);
    posix_spawnattr_setflags(&m_attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  }
  Spawn(const Spawn&) = delete;
  Spawn& operator=(const Spawn&) = delete;
  ~Spawn() {
    posix_spawn_file_actions_destroy(&m_actions);
    posix_spawnattr_destroy(&m_attributes);
  }

  posix_spawn_file_actions_t* actions() { return &m_actions; }
  const posix_spawnattr_t* attributes() const { return &m_attributes; }

 private:
  posix_spawn_file_actions_t m_actions;
  posix_spawnattr_t m_attributes;
};

}  // namespace

Waited read_output(std::span<const OutputStream> streams, const Stop& stop, Deadline deadline,
                   int client, bool one_line) {
  std::vector<pollfd> watched;
  for (const OutputStream& stream : streams) {
    watched.push_back({stream.fd, POLLIN, 0});
  }
  for (std::size_t open = streams.size(); open > 0;) {
    const std::string& first = *streams[0].text;
    if (one_line && (first.find('\n') != std::string::npos || first.size() >= k_line_limit)) {
      break;
    }
    if (const Waited waited = stop.wait(watched, deadline, client); waited != Waited::ready) {
      return waited;
    }
    for (std::size_t i = 0; i < streams.size(); ++i) {
      if (watched[i].fd < 0 || watched[i].revents == 0) {
        continue;
      }
      char chunk[4096];
      const ssize_t got = ::read(watched[i].fd, chunk, sizeof chunk);
      if (got > 0) {
        streams[i].text->append(chunk, static_cast<std::size_t>(got));
      } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
        watched[i].fd = -1;
        --open;
      }
    }
  }
  return Waited::ready;
}

std::expected<std::string, std::string> run_captured(const std::vector<std::string>& argv,
                                                     const std::vector<std::string>& settings,
                                                     const RunLimits& limits) {
  auto out_pipe = make_pipe();
  auto err_pipe = make_pipe();
  if (!out_pipe || !err_pipe) {
    return std::unexpected("cannot run " + argv[0] + ": " +
                           (out_pipe ? err_pipe.error() : out_pipe.error()));
  }
  Spawn spawn;
  // Into its directory before any descriptor is moved onto the one naming it.
  posix_spawn_file_actions_addfchdir_np(spawn.actions(), limits.directory);
  posix_spawn_file_actions_addopen(spawn.actions(), 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(spawn.actions(), (*out_pipe)[1].get(), 1);
  posix_spawn_file_actions_adddup2(spawn.actions(), (*err_pipe)[1].get(), 2);
  // Copied first: a dup2 onto itself would leave it closed on exec.
  const zelko_ipc::Fd passed(limits.passed < 0 ? -1 : ::fcntl(limits.passed, F_DUPFD_CLOEXEC, 10));
  if (passed) {
    posix_spawn_file_actions_adddup2(spawn.actions(), passed.get(), k_passed_fd);
  }
  const auto args = pointers(argv);
  const auto environment = child_environment(settings);
  pid_t pid = -1;
  const int spawned = ::posix_spawnp(&pid, args[0], spawn.actions(), spawn.attributes(),
                                     args.data(), pointers(environment).data());
  (*out_pipe)[1].reset();
  (*err_pipe)[1].reset();
  if (spawned != 0) {
    return std::unexpected("cannot run " + argv[0] + ": " + zelko_ipc::describe_os_error(spawned));
  }
  const auto deadline = std::chrono::steady_clock::now() + limits.time_limit;
  std::string out;
  std::string err;
  const OutputStream streams[] = {{(*out_pipe)[0].get(), &out}, {(*err_pipe)[0].get(), &err}};
  const Waited waited = read_output(streams, limits.stop, deadline,
                                    limits.client != nullptr ? limits.client->connection() : -1);
  if (waited != Waited::ready) {
    ::kill(pid, SIGKILL);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (waited == Waited::stopping) {
    return std::unexpected(argv[0] + " was stopped: the sim is stopping");
  }
  if (waited == Waited::client_left) {
    return std::unexpected(argv[0] + " was stopped: the request was abandoned");
  }
  if (waited == Waited::timed_out) {
    return std::unexpected(argv[0] + " did not finish within " +
                           std::to_string(limits.time_limit.count()) + " s");
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    err.erase(err.find_last_not_of("\r\n") + 1);
    return std::unexpected(argv[0] + " failed" + (err.empty() ? "" : ": " + err));
  }
  return out;
}

namespace {

// The guardian, which ends `argv`'s program when the sim ends: executing a
// set-group-ID program (as Debian's ssh-agent is) clears the parent-death
// signal, so the guardian keeps it and passes it on to its child.
[[noreturn]] void guard(const std::vector<char*>& argv, const std::vector<char*>& envp, pid_t sim,
                        int directory, int output, int errors) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGCHLD);
  ::sigprocmask(SIG_BLOCK, &signals, nullptr);
  // Told to end when the sim does (unless it is gone already).
  if (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || ::getppid() != sim) {
    ::_exit(127);
  }
  // Named apart from the sim and in a group of its own, so that a signal to
  // the sim by name or group (Ctrl-C) reaches the sim, which then stops it.
  ::prctl(PR_SET_NAME, "agent-guard");
  ::setpgid(0, 0);
  const int null = ::open("/dev/null", O_RDONLY);
  // Nothing of the program's reaches the terminal: it goes to the sim.
  if (null < 0 || ::fchdir(directory) != 0 || ::dup2(null, 0) < 0 || ::dup2(output, 1) < 0 ||
      ::dup2(errors, 2) < 0) {
    ::_exit(127);
  }
  const pid_t program = ::fork();
  if (program < 0) {
    ::_exit(127);
  }
  if (program == 0) {
    for (const int signal : k_ignored_here) {
      ::signal(signal, SIG_DFL);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execvpe(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(1);
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

std::expected<Child, std::string> start_child(const std::vector<std::string>& argv, int directory) {
  const auto args = pointers(argv);
  const auto environment = child_environment();
  const auto envp = pointers(environment);
  auto output = make_pipe();
  auto errors = make_pipe();
  if (!output || !errors) {
    return std::unexpected("cannot start " + argv[0] + ": " +
                           (output ? errors.error() : output.error()));
  }
  const pid_t sim = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    guard(args, envp, sim, directory, (*output)[1].get(), (*errors)[1].get());
  }
  if (pid < 0) {
    return std::unexpected("cannot start " + argv[0] + ": " + zelko_ipc::describe_os_error(errno));
  }
  return Child{pid, std::move((*output)[0]), std::move((*errors)[0])};
}

}  // namespace derodi_sim
