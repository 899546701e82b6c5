#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the build with DESTDIR into a temporary directory, as it is and
# stripped, and checks the installed tree: every file where the build was
# configured to put it, the man page, the completions' syntax and the
# program's hardening. Nothing is written outside the temporary directory.
#   tests/install/check.sh BUILD_DIR SOURCE_DIR VERSION hardened|unhardened FILE...
# FILE... are the installed files' full paths (without DESTDIR), the
# program first. A build that is not optimised, or is instrumented by a
# sanitizer, cannot have every hardening feature: "unhardened" leaves that
# check out. In a cross build ZELKO_EMULATOR runs the program. Exits with
# 77 (skipped) when a tool it needs is missing; without fish, only the fish
# completion's checks are left out. It also runs the README's uninstall
# lines on an install of its own.
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
version=$3
hardened=$4
shift 4
files=("$@")
work=$(mktemp -d "${TMPDIR:-/tmp}/zelko-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
check="install check"
source "$(dirname "$0")/../checks.sh"

tools=(groff zsh)
# hardening-check reads the host's kind of program only.
[ -n "${ZELKO_EMULATOR:-}" ] && hardened=unhardened
[ "$hardened" = hardened ] && tools+=(hardening-check readelf)
require_tools "${tools[@]}"

# Runs a built program, through the emulator in a cross build.
run() { ${ZELKO_EMULATOR:-} "$@"; }

echo "== cmake --install with DESTDIR, as it is and stripped"
for tree in plain stripped; do
  strip=()
  [ $tree = stripped ] && strip=(--strip)
  DESTDIR="$work/$tree" cmake --install "$build" "${strip[@]}" >/dev/null
  for file in "${files[@]}"; do
    [ -f "$work/$tree$file" ] || fail "missing $file"
  done
  program=$work/$tree${files[0]}
  [ ! -e "$(dirname "$program")/derodi-sim" ] || fail "derodi-sim is installed by default"
  [ "$(run "$program" --version)" = "zelko-cli $version" ] || fail "$tree zelko-cli --version"
  if [ "$hardened" = hardened ]; then
    report=$(hardening-check $(hardening_options "${ZELKO_CXX:-c++}") "$program" 2>&1) ||
      fail "hardening-check on the $tree program: $report"
  fi
done
if [ -x "$build/tools/derodi-sim/derodi-sim" ]; then
  DESTDIR="$work/sim" cmake --install "$build" --component derodi-sim >/dev/null
  [ -f "$work/sim$(dirname "${files[0]}")/derodi-sim" ] || fail "derodi-sim not installed with its component"
fi

echo "== man page"
page=$(gzip -dc "$work/plain${files[1]}")
warnings=$(groff -ww -z -man <<<"$page" 2>&1)
[ -z "$warnings" ] || fail "groff warnings: $warnings"
rendered=$(groff -man -Tutf8 <<<"$page" 2>/dev/null | col -b)
[[ $page == *'.TH ZELKO-CLI 1 '*"\"zelko-cli $version\""* ]] || fail "man page header lacks the version"
# Every command form of the usage text has its place in the page.
forms=$(run "$build/zelko-cli/zelko-cli" --help | sed -n 's/^    zelko-cli \([a-z]*\).*/\1/p' | sort -u)
for word in $forms; do
  [[ $rendered == *"zelko-cli $word"* ]] || fail "man page lacks 'zelko-cli $word'"
done
for section in SYNOPSIS COMMANDS OUTPUT ENVIRONMENT FILES "EXIT STATUS" DIAGNOSTICS EXAMPLES; do
  [[ $'\n'$rendered == *$'\n'"$section"* ]] || fail "man page lacks $section"
done

echo "== completions"
bash -n "$source/completions/zelko-cli.bash" || fail "bash completion syntax"
zsh -n "$source/completions/_zelko-cli" || fail "zsh completion syntax"
if command -v fish >/dev/null; then
  fish -n "$source/completions/zelko-cli.fish" || fail "fish completion syntax"
  # With the README's line in config.fish, fish finds the installed
  # completion wherever the build put it.
  mkdir -p "$work/home/.config/fish"
  # Between fish's single quotes, where a quote or backslash is escaped.
  completions=$(dirname "$work/plain${files[4]}")
  completions=${completions//\\/\\\\}
  completions=${completions//\'/\\\'}
  echo "set -a fish_complete_path '$completions'" >"$work/home/.config/fish/config.fish"
  offered=$(HOME=$work/home PATH="$(dirname "$work/plain${files[0]}"):$PATH" \
    fish -c 'complete -C "zelko-cli "' 2>&1) || true
  [[ $offered == *status* ]] || fail "fish does not complete the installed zelko-cli: $offered"
else
  echo "install check: fish is missing, so its completion is not checked"
fi

echo "== the README's uninstall lines"
# On an install of its own; the lists name the paths without DESTDIR, so
# the lines are given copies with it.
DESTDIR="$work/removed" cmake --install "$build" >/dev/null
mkdir "$work/lists"
for list in install_manifest.txt install_directories.txt; do
  while IFS= read -r path || [ -n "$path" ]; do
    printf '%s\n' "$work/removed$path"
  done <"$build/$list" >"$work/lists/$list"
done
lines=$(readme_block "$source/README.md" "<!-- uninstall")
lines=${lines//sudo /}
lists=$(printf '%q' "$work/lists/")
lines=${lines//build-release\//$lists}
bash -e -c "$lines" || fail "the uninstall lines failed: $lines"
left=$(find "$work/removed" -mindepth 1)
[ -z "$left" ] || fail "left after uninstalling: $left"

finish "everything in place"
