#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A guided tour of zelko-cli against derodi-sim, the stand-in daemon: every
# command, then the everyday uses of a phone key, signing a git commit and
# logging in over ssh (to a local sshd that ssh starts itself: no port, no
# root). It runs on a temporary runtime directory that is removed
# afterwards, whatever happens.
#   tools/tour.sh [BUILD_DIR]    (default: build-tour)
set -uo pipefail

build=${1:-"$(cd "$(dirname "$0")/.." && pwd)/build-tour"}
build=$(cd "$build" 2>/dev/null && pwd) || build=${1:-build-tour}
cli_dir="$build/zelko-cli"
sim="$build/tools/derodi-sim/derodi-sim"
for program in "$cli_dir/zelko-cli" "$sim"; do
  if [ ! -x "$program" ]; then
    echo "tour: $program is missing; build first (cmake --preset tour && cmake --build --preset tour)" >&2
    exit 1
  fi
done
# Without its tools the tour cannot start (status 77, which the test suite
# counts as skipped).
for tool in git ssh-agent ssh-add ssh-keygen; do
  command -v "$tool" >/dev/null || { echo "tour: $tool is missing; install it first" >&2; exit 77; }
done

runtime=$(mktemp -d "${TMPDIR:-/tmp}/zelko-tour.XXXXXX")
sim_pid=
# A second Ctrl-C (or a TERM) while it runs does not cut the cleanup short.
cleanup() {
  trap '' HUP INT QUIT TERM
  if [ -n "$sim_pid" ]; then
    kill -TERM "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
  fi
  rm -rf "$runtime"
}
trap cleanup EXIT
trap 'echo; echo "tour: interrupted"; exit 130' INT TERM

export XDG_RUNTIME_DIR="$runtime"
export PATH="$cli_dir:$PATH"
# git and ssh read the tour's own configuration, never the user's, so that
# what they show is the tour's.
: >"$runtime/gitconfig"
export GIT_CONFIG_GLOBAL="$runtime/gitconfig" GIT_CONFIG_NOSYSTEM=1
# The sim says where its agent listens, once it listens, through a FIFO.
# The tour holds it open for writing too, so that a watchdog can end the
# wait with an empty line should the sim die first; the read itself blocks,
# so no byte of the line is lost however slow the machine.
# The sim names hosts as a known_hosts file of the tour's own does, and
# keeps its keys and trusted destinations in a state directory of the
# tour's, so that they outlive a restart.
mkfifo "$runtime/ready"
mkdir -p "$runtime/home/.ssh"
known_hosts="$runtime/home/.ssh/known_hosts"
: >"$known_hosts"
endpoint=
start_sim() {
  exec 3<>"$runtime/ready"
  HOME="$runtime/home" "$sim" --refuse-signatures --state-dir "$runtime/state" \
    --ready-file "$runtime/ready" "$@" 2>>"$runtime/sim.log" &
  sim_pid=$!
  (while kill -0 "$sim_pid" 2>/dev/null; do sleep 0.2; done; echo >&3) &
  local watchdog=$!
  read -r endpoint <&3
  kill "$watchdog" 2>/dev/null
  wait "$watchdog" 2>/dev/null
  exec 3<&-
  if [ -z "$endpoint" ]; then
    echo "tour: derodi-sim did not start:" >&2
    cat "$runtime/sim.log" >&2
    exit 1
  fi
}
stop_sim() {
  kill -TERM "$sim_pid" 2>/dev/null
  wait "$sim_pid" 2>/dev/null
  sim_pid=
}
start_sim

bold= plain=
if [ -t 1 ]; then bold=$'\033[1m' plain=$'\033[0m'; fi
failures=0
say() { printf '\n%s\n' "$*" | fold -s -w 78; }
# Shows a command as one would type it.
show() {
  local shown=() word
  for word in "$@"; do
    [[ $word == *' '* ]] && word="\"$word\""
    shown+=("$word")
  done
  printf '%s$ %s%s\n' "$bold" "${shown[*]}" "$plain"
}
# Runs a step that should succeed.
step() {
  show "$@"
  "$@"
  local status=$?
  [ $status -eq 0 ] || { echo "(exit status $status)"; failures=$((failures + 1)); }
}
# Runs a step that should fail.
refused() {
  show "$@"
  if "$@"; then
    echo "(it went through, and should not have)"
    failures=$((failures + 1))
  fi
}

mkdir "$runtime/work" && cd "$runtime/work" || exit 1

say "derodi-sim stands in for the daemon. Its phone is simulated: it holds three real keys and approves requests on its own. Here it refuses every signature that no authorization window covers, as a careful user would."

say "Point this shell at the daemon's agent, and zelko-cli says so:"
export SSH_AUTH_SOCK="$endpoint"
show export SSH_AUTH_SOCK="$endpoint"
step zelko-cli status

say "The keys the phone offers, for people and for scripts:"
step zelko-cli keys
step zelko-cli keys --long
step zelko-cli keys --json
step zelko-cli fingerprint github
step zelko-cli devices
step zelko-cli getpub work --out work.pub
step cat work.pub

say "Everyday use: sign git commits with the phone's key, through its agent."
git init -q -b main repo && cd repo || exit 1
git config user.name "Tour"
git config user.email tour@example.com
echo "tour@example.com $(cat ../work.pub)" >../allowed_signers
step git config gpg.format ssh
step git config user.signingkey "$runtime/work/work.pub"
step git config gpg.ssh.allowedSignersFile "$runtime/work/allowed_signers"

# The ssh logins: sshd in inetd mode as ssh's ProxyCommand, with a host key
# and authorized_keys of its own (the phone's work key), for two hosts that
# known_hosts names, localhost and otherhost.
sshd=$(PATH="$PATH:/usr/sbin:/sbin" command -v sshd || true)
login_skipped=
if [ -z "$sshd" ]; then
  login_skipped="sshd is missing (Debian and Ubuntu: apt-get install openssh-server)"
elif [ "$(id -u)" -eq 0 ] && [ ! -d /run/sshd ]; then
  login_skipped="sshd run as root needs its privilege separation directory (mkdir /run/sshd)"
else
  ssh_dir="$runtime/ssh"
  mkdir "$ssh_dir"
  zelko-cli getpub work --out "$ssh_dir/authorized_keys"
  # Paths in double quotes, with % doubled where ssh and sshd expand tokens;
  # ProxyCommand is a command for /bin/sh, its words in single quotes.
  quoted() { printf '"%s"' "$1"; }
  tokens_quoted() { quoted "${1//%/%%}"; }
  shell_quoted() { local s=${1//\'/\'\\\'\'}; printf "'%s'" "$s"; }
  for host in localhost otherhost; do
    ssh-keygen -q -t ed25519 -N "" -C "$host" -f "$ssh_dir/$host.key"
    echo "$host $(cat "$ssh_dir/$host.key.pub")" >>"$known_hosts"
    printf '%s\n' "HostKey $(quoted "$ssh_dir/$host.key")" \
      "AuthorizedKeysFile $(tokens_quoted "$ssh_dir/authorized_keys")" \
      "StrictModes no" "UsePAM no" "PasswordAuthentication no" "KbdInteractiveAuthentication no" \
      >"$ssh_dir/$host.sshd_config"
    proxy="$(shell_quoted "$sshd") -i -f $(shell_quoted "$ssh_dir/$host.sshd_config")"
    printf '%s\n' "Host $host" "  ProxyCommand ${proxy//%/%%}" \
      "  UserKnownHostsFile $(tokens_quoted "$known_hosts")" "  GlobalKnownHostsFile /dev/null" \
      "  IdentityFile $(tokens_quoted "$runtime/work/work.pub")" "  IdentitiesOnly yes" \
      "  StrictHostKeyChecking yes" "  BatchMode yes" "  PreferredAuthentications publickey" \
      >>"$ssh_dir/ssh_config"
  done
fi
# Logs in to one of the local sshds and runs `id -un` there.
login() {
  if [ -n "$login_skipped" ]; then
    echo "(the ssh login is skipped: $login_skipped)"
    return 0
  fi
  show ssh -F ssh_config "$1" id -un
  (cd "$ssh_dir" && ssh -F ssh_config "$1" id -un)
}
# The simulated phone's last word on a signature, from derodi-sim's log.
phone_said() {
  local lines
  lines=$(grep '^derodi-sim: phone: [^:]*: signature with ' "$runtime/sim.log" || true)
  echo "${lines##*$'\n'}"
}

# A login that should be refused.
login_refused() {
  if login "$1"; then
    [ -n "$login_skipped" ] || { echo "(it went through, and should not have)"; failures=$((failures + 1)); }
  else
    phone_said
  fi
}

say "Outside an authorization window the phone refuses to sign, a commit or an ssh login:"
refused git commit -q --allow-empty -S -m "signed by the phone"
phone_said
login_refused localhost

say "A window covers only destinations the user has confirmed on the phone, deliberately, and none is confirmed yet, so the phone refuses one:"
refused zelko-cli authorize --minutes 5

say "Confirm localhost as a trusted destination. With --ask the phone offers it when you approve a login there; unattended, it trusts the hosts named with --trust-destination, by the keys known_hosts holds for them. The phone restarts with its keys, and says so:"
stop_sim
show derodi-sim --trust-destination localhost ...
start_sim --trust-destination localhost
grep '^derodi-sim: phone: trusted from now on: ' "$runtime/sim.log"

say "Now the phone grants a window of five minutes, scoped to the trusted destination and git signatures, and the same signature goes through. The phone says what it approved: a git signature (SSHSIG, namespace git), asked by ssh-keygen, which git ran:"
step zelko-cli authorize --minutes 5
step zelko-cli status
step git commit -q --allow-empty -S -m "signed by the phone"
phone_said
step git verify-commit HEAD
cd .. || exit 1

say "And so does the ssh login to localhost: the phone names the user, the destination as known_hosts names the host key the agent verified, and ssh by the program it runs:"
login localhost || { echo "(the login failed)"; failures=$((failures + 1)); }
[ -n "$login_skipped" ] || phone_said

say "A login to another host, verified but never confirmed, is outside the window's scope:"
login_refused otherhost

say "The phone can make new keys too, and ssh sees them at once:"
step zelko-cli generate --type ed25519 --name tour-key
step ssh-add -l

echo
if [ $failures -eq 0 ]; then
  echo "tour: every step went as it should"
else
  echo "tour: $failures step(s) did not"
  exit 1
fi
