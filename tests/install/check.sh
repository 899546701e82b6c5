#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks the installed tree,
# lints the man page, syntax-checks the zsh and fish completions, and builds
# and inspects the Debian package.
#   tests/install/check.sh BUILD_DIR SOURCE_DIR
# Exits with 77 (skipped) when a tool it needs is missing, unless CI is set.
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/zelko-install.XXXXXX")
trap 'rm -rf "$work"' EXIT

for tool in groff dpkg-deb cpack zsh fish; do
  if ! command -v "$tool" >/dev/null; then
    echo "install check: $tool is missing"
    [ -n "${CI:-}" ] && exit 1
    exit 77
  fi
done

failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
expect_file() { [ -f "$1" ] || fail "missing $1"; }

echo "== cmake --install into a temporary prefix"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
expect_file "$work/prefix/bin/zelko-cli"
expect_file "$work/prefix/share/man/man1/zelko-cli.1"
expect_file "$work/prefix/share/bash-completion/completions/zelko-cli"
expect_file "$work/prefix/share/zsh/site-functions/_zelko-cli"
expect_file "$work/prefix/share/fish/vendor_completions.d/zelko-cli.fish"
[ ! -e "$work/prefix/bin/derodi-sim" ] || fail "derodi-sim is installed by default"
[ "$("$work/prefix/bin/zelko-cli" --version)" = "zelko-cli 0.2.0" ] || fail "installed zelko-cli --version"
cmake --install "$build" --prefix "$work/sim" --component derodi-sim >/dev/null
expect_file "$work/sim/bin/derodi-sim"

echo "== man page"
warnings=$(groff -ww -z -man "$source/docs/zelko-cli.1" 2>&1)
[ -z "$warnings" ] || fail "groff warnings: $warnings"
rendered=$(groff -man -Tutf8 "$source/docs/zelko-cli.1" 2>/dev/null | col -b)
# Every command form of the usage text has its place in the page.
while read -r form; do
  word=${form%% *}
  grep -q -- "zelko-cli $word" <<<"$rendered" || fail "man page lacks 'zelko-cli $word'"
done < <("$build/zelko-cli/zelko-cli" --help | sed -n 's/^    zelko-cli \([a-z]*\).*/\1/p' | sort -u)
for section in SYNOPSIS COMMANDS OUTPUT ENVIRONMENT FILES "EXIT STATUS" DIAGNOSTICS EXAMPLES; do
  grep -q "^$section" <<<"$rendered" || fail "man page lacks $section"
done

echo "== completions"
bash -n "$source/completions/zelko-cli.bash" || fail "bash completion syntax"
zsh -n "$source/completions/_zelko-cli" || fail "zsh completion syntax"
fish -n "$source/completions/zelko-cli.fish" || fail "fish completion syntax"

echo "== Debian package"
(cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work/package" >/dev/null)
deb=$(ls "$work"/package/*.deb)
[ "$(basename "$deb")" = "zelko-cli_0.2.0_amd64.deb" ] || echo "package file: $(basename "$deb")"
[ "$(dpkg-deb -f "$deb" Package)" = "zelko-cli" ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "0.2.0" ] || fail "package version"
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "package maintainer"
dpkg-deb -f "$deb" Description | grep -q "talk to the Zelko daemon" || fail "package description"
echo "Depends: $(dpkg-deb -f "$deb" Depends)"
dpkg-deb -x "$deb" "$work/unpacked"
expect_file "$work/unpacked/usr/bin/zelko-cli"
expect_file "$work/unpacked/usr/share/man/man1/zelko-cli.1"
expect_file "$work/unpacked/usr/share/bash-completion/completions/zelko-cli"
expect_file "$work/unpacked/usr/share/zsh/site-functions/_zelko-cli"
expect_file "$work/unpacked/usr/share/fish/vendor_completions.d/zelko-cli.fish"
[ ! -e "$work/unpacked/usr/bin/derodi-sim" ] || fail "derodi-sim is in the package"
[ "$("$work/unpacked/usr/bin/zelko-cli" --version)" = "zelko-cli 0.2.0" ] || fail "packaged zelko-cli --version"

if [ $failures -eq 0 ]; then
  echo "install check: everything in place"
else
  echo "install check: $failures problem(s)"
  exit 1
fi
