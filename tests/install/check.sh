#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the build into a temporary prefix and checks the installed tree:
# every file in its upstream place, the man page, the completions' syntax
# and the program's hardening.
#   tests/install/check.sh BUILD_DIR SOURCE_DIR VERSION hardened|unhardened
# A build that is not optimised, or is instrumented by a sanitizer, cannot
# have every hardening feature: "unhardened" leaves that check out.
# Exits with 77 (skipped) when a tool it needs is missing, unless CI is set.
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
version=$3
hardened=$4
work=$(mktemp -d "${TMPDIR:-/tmp}/zelko-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
check="install check"
source "$(dirname "$0")/../checks.sh"

tools=(groff zsh fish)
[ "$hardened" = hardened ] && tools+=(hardening-check)
require_tools "${tools[@]}"

expect_file() { [ -f "$1" ] || fail "missing $1"; }

echo "== cmake --install into a temporary prefix, as it is and stripped"
for tree in plain stripped; do
  strip=()
  [ $tree = stripped ] && strip=(--strip)
  prefix="$work/$tree"
  cmake --install "$build" --prefix "$prefix" "${strip[@]}" >/dev/null
  for file in bin/zelko-cli share/man/man1/zelko-cli.1.gz share/bash-completion/completions/zelko-cli \
              share/zsh/site-functions/_zelko-cli share/fish/vendor_completions.d/zelko-cli.fish \
              share/doc/zelko-cli/LICENSE share/doc/zelko-cli/CHANGELOG.md; do
    expect_file "$prefix/$file"
  done
  [ ! -e "$prefix/bin/derodi-sim" ] || fail "derodi-sim is installed by default"
  [ "$("$prefix/bin/zelko-cli" --version)" = "zelko-cli $version" ] || fail "$tree zelko-cli --version"
  if [ "$hardened" = hardened ]; then
    report=$(hardening-check "$prefix/bin/zelko-cli" 2>&1) || fail "hardening-check on the $tree program: $report"
  fi
done
if [ -x "$build/tools/derodi-sim/derodi-sim" ]; then
  cmake --install "$build" --prefix "$work/sim" --component derodi-sim >/dev/null
  expect_file "$work/sim/bin/derodi-sim"
fi

echo "== man page"
page=$(gzip -dc "$work/plain/share/man/man1/zelko-cli.1.gz")
warnings=$(groff -ww -z -man <<<"$page" 2>&1)
[ -z "$warnings" ] || fail "groff warnings: $warnings"
rendered=$(groff -man -Tutf8 <<<"$page" 2>/dev/null | col -b)
[[ $page == *'.TH ZELKO-CLI 1 '*"\"zelko-cli $version\""* ]] || fail "man page header lacks the version"
# Every command form of the usage text has its place in the page.
forms=$("$build/zelko-cli/zelko-cli" --help | sed -n 's/^    zelko-cli \([a-z]*\).*/\1/p' | sort -u)
for word in $forms; do
  [[ $rendered == *"zelko-cli $word"* ]] || fail "man page lacks 'zelko-cli $word'"
done
for section in SYNOPSIS COMMANDS OUTPUT ENVIRONMENT FILES "EXIT STATUS" DIAGNOSTICS EXAMPLES; do
  [[ $'\n'$rendered == *$'\n'"$section"* ]] || fail "man page lacks $section"
done

echo "== completions"
bash -n "$source/completions/zelko-cli.bash" || fail "bash completion syntax"
zsh -n "$source/completions/_zelko-cli" || fail "zsh completion syntax"
fish -n "$source/completions/zelko-cli.fish" || fail "fish completion syntax"

finish "everything in place"
