// SPDX-License-Identifier: MIT
#include "options.hpp"

#include "text.hpp"
#include "zelko/ipc/decimal.hpp"

namespace derodi_sim {

const std::string_view k_help =
    R"(derodi-sim — a stand-in for the derodi daemon, for demos and tests

USAGE:
    derodi-sim [FLAGS]

Simulates one paired phone with real keys: makes OpenSSH keys with ssh-keygen,
serves them through a real ssh-agent behind $XDG_RUNTIME_DIR/zelko/agent.sock,
where every signature asks the simulated phone first, and answers zelko-cli on
$XDG_RUNTIME_DIR/zelko/control.sock until a signal that would end it
(SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM).
The phone approves on its own, after --approval-delay, or asks you (--ask),
and says on standard error what it decided and what it was asked, one line
each: what is signed (an ssh login, as whom and to which host; an SSHSIG
signature and its namespace, such as git), with which key, and which program
asked, by its name and its executable:
    derodi-sim: phone: approved: signature with 'work' SHA256:...: ssh login
    as 'me' to 'github.com' (host key verified, known_hosts line 12), asked
    by 'ssh' ('/usr/bin/ssh', pid 4242), from 'bash' ('/usr/bin/bash')
Text another program chose is quoted, escaped and cut at 64 characters. A
host is named only once the agent has verified it (OpenSSH 8.9 and later bind
their connections to the server's host key), as ~/.ssh/known_hosts (with $HOME
as home) or /etc/ssh/ssh_known_hosts names its key ("host key REVOKED" for a
key an @revoked line names).

A destination is trusted deliberately: named at the start with
--trust-destination, or confirmed on the phone (with --ask, a verified login
to a host known_hosts names offers y to approve once, t to approve and trust
the host from now on, n to refuse). The list is kept in the state directory.
An authorization window (at most a week) covers the scope chosen on the
phone: trusted destinations, git signatures (SSHSIG, namespace git), or
both; with --ask you choose, unattended the phone grants every trusted
destination and git signatures, and a window that would cover destinations
when none is trusted fails. A window never covers a revoked host key, nor a
signature asked through a forwarded agent.

The sim keeps to directories it can trust along their whole path: every
directory from / to $XDG_RUNTIME_DIR/zelko (and to the --state-dir) must be
root's or its user's and writable by nobody else (a sticky directory of
root's, like /tmp, excepted), the last its user's, or it does not start; it
then works only through the directory it checked. Its ssh-agent listens in a
new private directory there, which other users cannot reach; your own
processes can, as they can reach any agent of yours, so through it they sign
without the phone. Through the endpoint, SSH clients list keys and sign;
adding, removing and locking are refused. One sim runs per runtime directory,
and one per state directory.

FLAGS:
    --runtime-dir DIR           Use DIR instead of $XDG_RUNTIME_DIR
    --state-dir DIR             Keep the phone's key files in DIR, the keys it
                                makes too, and load them all at the next start
                                (default: a directory in the runtime
                                directory, removed on exit)
    --keep-state                Keep the default state directory on exit too
    --ready-file PATH           Once listening, write the agent endpoint and a
                                newline to PATH, as a shell's ">" would: read
                                it from a FIFO to wait (a sim that cannot start
                                ends the FIFO without a line)
    --ask                       Ask on this terminal about every approval
                                and a window's scope (no answer within
                                --ask-time refuses,
                                and so does a terminal that does not take the
                                question in that time, its output paused)
    --ask-time SECONDS          The time to answer (1 to 3600, default 60)
    --stale                     Key metadata is STALE: keys show it and getpub
                                fails
    --refuse                    The phone declines every approval of a window
                                or a key
    --trust-destination NAME    Trust the host NAME from the start: the keys
                                your known_hosts files hold for it, plain or
                                hashed, none revoked (repeatable; a name
                                with no key there stops the start)
    --refuse-signatures         The phone refuses every signature that no
                                authorization window covers
    --approval-delay SECONDS    The phone takes SECONDS (0 to 3600, default 0)
                                before it answers an approval or a signature
    --quiet                     Do not print the phone's decisions, nor the
                                agent's messages
    -h, --help                  Print this help
)";

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
    } else if (flag == "--ask-time" && has_value) {
      const std::string_view value = arguments[++i];
      const auto seconds = zelko_ipc::parse_unsigned_decimal(value, 3600);
      if (!seconds || *seconds == 0) {
        return std::unexpected(quoted(value).append(" is not a number of seconds (1 to 3600)"));
      }
      options.behaviour.answer_time = std::chrono::seconds(*seconds);
    } else if (flag == "--approval-delay" && has_value) {
      const std::string_view value = arguments[++i];
      const auto seconds = zelko_ipc::parse_unsigned_decimal(value, 3600);
      if (!seconds) {
        return std::unexpected(quoted(value).append(" is not a number of seconds (0 to 3600)"));
      }
      options.behaviour.approval_delay = std::chrono::seconds(*seconds);
    } else {
      return std::unexpected(std::string("unknown flag or missing value: ")
                                 .append(quoted(flag))
                                 .append("; try --help"));
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
