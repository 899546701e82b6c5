#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds each package (Debian, RPM, the static tarball) twice, from copies
# of the tree in two different directories, and checks that the two builds
# agree byte for byte (the installed program too, stripped and not), what
# each package holds, that its program is hardened, and what its linter
# says.
#   tests/packages/check.sh SOURCE_DIR VERSION
# Exits with 77 (skipped) when a tool it needs is missing.
set -euo pipefail
source=$(cd "$1" && pwd)
version=$2
# rpmbuild cannot build under a path with a blank in it: then the packages
# are built under /tmp instead.
base=${TMPDIR:-/tmp}
[[ $base != *[[:space:]]* ]] || base=/tmp
work=$(mktemp -d "$base/zelko-packages.XXXXXX")
trap 'rm -rf "$work"' EXIT
# rpmbuild and lintian keep state under HOME, and lintian its scratch
# files (mldbm-elf-*) in TMPDIR: this check's own, removed with it.
export HOME=$work/home TMPDIR=$work/tmp
mkdir -p "$HOME" "$TMPDIR"
check="packages check"
source "$(dirname "$0")/../checks.sh"

require_tools cpack dpkg-deb lintian rpm rpm2cpio cpio rpmbuild rpmlint hardening-check readelf objdump

# Package time stamps come from the last commit, or a fixed day.
SOURCE_DATE_EPOCH=$(git -C "$source" log -1 --format=%ct 2>/dev/null || echo 1796688000)
export SOURCE_DATE_EPOCH

# Two copies of the tree, at different depths and under different names.
trees=("$work/one/zelko-cli" "$work/two/somewhere/else/src")
for tree in "${trees[@]}"; do
  mkdir -p "$tree"
  if git -C "$source" rev-parse --git-dir >/dev/null 2>&1; then
    (cd "$source" && git ls-files -z --cached --others --exclude-standard |
      tar --null -T - -cf -) | tar -xf - -C "$tree"
  else
    (cd "$source" && tar --exclude='./build*' -cf - .) | tar -xf - -C "$tree"
  fi
done

# Builds `preset` in both trees and packs it; the packages land in
# $work/<tree index>/<preset>/.
declare -A generator=([deb]=DEB [rpm]=RPM [static]=TGZ)
for preset in deb rpm static; do
  for i in 0 1; do
    tree=${trees[$i]}
    echo "== $preset, tree $((i + 1))"
    cmake -S "$tree" --preset "$preset" >/dev/null
    cmake --build "$tree/build-$preset" -j2 >/dev/null
    mkdir -p "$work/$i/$preset"
    (cd "$work/$i/$preset" &&
      cpack -G "${generator[$preset]}" --config "$tree/build-$preset/CPackConfig.cmake" -B . >/dev/null)
    rm -rf "$work/$i/$preset/_CPack_Packages"
  done
done

echo "== the same from either directory"
for i in 0 1; do
  tree=${trees[$i]}
  cmake --install "$tree/build-rpm" --prefix "$work/$i/installed" >/dev/null
  cmake --install "$tree/build-rpm" --prefix "$work/$i/stripped" --strip >/dev/null
done
for file in installed/bin/zelko-cli stripped/bin/zelko-cli; do
  cmp -s "$work/0/$file" "$work/1/$file" || fail "$file differs between the two builds"
done
packages=()
for preset in deb rpm static; do
  for package in "$work/0/$preset"/*; do
    name=$(basename "$package")
    packages+=("$package")
    cmp -s "$package" "$work/1/$preset/$name" || fail "$name differs between the two builds"
  done
done
echo "${packages[@]##*/}"

echo "== Debian package"
deb=$(echo "$work"/0/deb/*.deb)
[ "$(basename "$deb")" = "zelko-cli_${version}_amd64.deb" ] || echo "package file: $(basename "$deb")"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "deb version"
# The C library the package depends on provides every symbol version the
# program needs.
depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends =~ libc6\ \(\>=\ ([0-9.]+)\) ]] || fail "deb Depends lacks the C library: $depends"
needed=$(objdump -p "$work/0/installed/bin/zelko-cli" | grep -oE 'GLIBC_[0-9.]+' | sed 's/GLIBC_//' |
  sort -uV | tail -n 1)
[ "$(printf '%s\n' "$needed" "${BASH_REMATCH[1]:-0}" | sort -V | tail -n 1)" = "${BASH_REMATCH[1]:-}" ] ||
  fail "deb Depends names libc6 ${BASH_REMATCH[1]:-?}, the program needs GLIBC_$needed"
abi=$(objdump -p "$work/0/installed/bin/zelko-cli" | grep -oE 'GLIBC_ABI_[A-Z_]+' | sort -u || true)
[ -z "$abi" ] || fail "the program needs $abi, which no version in Depends promises"
[ -n "$(dpkg-deb -f "$deb" Homepage)" ] || fail "deb Homepage"
dpkg-deb -x "$deb" "$work/deb"
for file in usr/bin/zelko-cli usr/share/man/man1/zelko-cli.1.gz usr/share/zsh/vendor-completions/_zelko-cli \
            usr/share/doc/zelko-cli/copyright usr/share/doc/zelko-cli/changelog.gz; do
  [ -f "$work/deb/$file" ] || fail "deb lacks $file"
done
status=0
report=$(lintian --fail-on error,warning "$deb" 2>&1) || status=$?
report=$(grep -v 'running with root privileges' <<<"$report" || true)
[ $status -eq 0 ] || fail "lintian: $report"
echo "lintian: ${report:-no tags}"

echo "== RPM package"
rpm=$(echo "$work"/0/rpm/*.rpm)
info=$(rpm -qip "$rpm" 2>/dev/null)
for field in "License     : MIT" "Packager    :" "URL         :" "Summary     :" "Version     : $version"; do
  [[ $info == *"$field"* ]] || fail "rpm lacks '$field'"
done
mkdir -p "$work/rpm" && (cd "$work/rpm" && rpm2cpio "$rpm" | cpio -idm --quiet)
report=$(rpmlint -r "$source/packaging/rpmlintrc" "$rpm" 2>&1) || true
errors=$(grep ': E: ' <<<"$report" | grep -v ': E: no-signature' || true)
[ -z "$errors" ] || fail "rpmlint: $errors"
grep -E ': [EW]: ' <<<"$report" | sed 's/^/rpmlint: /' || true
# Its own files and documents' directory only, not the directories of the
# system, bash-completion, zsh or fish.
owned=$(rpm -qp --qf '[%{FILEMODES:perms} %{FILENAMES}\n]' "$rpm" | sed -n 's/^d[^ ]* //p' |
  grep -v '^/usr/lib/\.build-id' || true)
[ "$owned" = "/usr/share/doc/zelko-cli" ] || fail "rpm owns directories not its own: $owned"

echo "== static tarball"
tarball=$(echo "$work"/0/static/*.tar.gz)
mkdir -p "$work/tgz" && tar -xzf "$tarball" -C "$work/tgz"
owners=$(tar --numeric-owner -tvzf "$tarball" | awk '$2 != "0/0"')
[ -z "$owners" ] || fail "tarball entries not owned by root: $owners"
top=$(echo "$work"/tgz/*)
for file in bin/zelko-cli share/man/man1/zelko-cli.1.gz share/doc/zelko-cli/LICENSE \
            share/doc/zelko-cli/CHANGELOG.md share/bash-completion/completions/zelko-cli; do
  [ -f "$top/$file" ] || fail "tarball lacks $file"
done

echo "== the programs the packages ship"
for program in "$work/deb/usr/bin/zelko-cli" "$work/rpm/usr/bin/zelko-cli" "$top/bin/zelko-cli"; do
  [ "$("$program" --version)" = "zelko-cli $version" ] || fail "$program --version"
done
for program in "$work/deb/usr/bin/zelko-cli" "$work/rpm/usr/bin/zelko-cli"; do
  report=$(hardening-check $(hardening_options c++) "$program" 2>&1) || fail "hardening-check: $report"
done
# hardening-check reads a static-pie program as a shared library and finds
# no dynamic symbols to judge by, so the standalone program is checked for
# the same protections directly: its unstripped build is asked for the
# stack protector's and FORTIFY's functions, the stripped one for its form.
static=$top/bin/zelko-cli
headers=$(readelf -lhdn "$static")
[[ $headers == *"DYN (Position-Independent Executable file)"* && $headers != *INTERP* ]] ||
  fail "the standalone program is not static-pie"
[[ $headers == *GNU_RELRO* && $headers == *BIND_NOW* ]] || fail "the standalone program lacks full RELRO"
symbols=$(nm "${trees[0]}/build-static/zelko-cli/zelko-cli")
[[ $symbols == *__stack_chk_fail* ]] || fail "the standalone program lacks the stack protector"
[[ $symbols == *_chk* ]] || fail "the standalone program lacks FORTIFY_SOURCE"

finish "all three build the same twice and pass their checks"
