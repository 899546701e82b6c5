#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A cross build whose OpenSSL is not the target's (a plain toolchain file
# of a packager's own, and the build machine's libcrypto) configures
# without the stand-in daemon, saying in one warning what is missing for
# which architecture, and goes on with the client.
#   tests/cross/openssl_check.sh SOURCE_DIR CRYPTO_LIBRARY INCLUDE_DIR
# Exits with 77 (skipped) without a cross compiler for another architecture.
set -euo pipefail
source=$1 library=$2 include=$3
check="cross OpenSSL check"
source "$(dirname "$0")/../checks.sh"

host=$(${ZELKO_CXX:-c++} -dumpmachine)
declare -A arch_of=([s390x-linux-gnu]=s390x [aarch64-linux-gnu]=arm64 [arm-linux-gnueabihf]=armhf)
triplet=
for candidate in s390x-linux-gnu aarch64-linux-gnu arm-linux-gnueabihf; do
  if [ "$candidate" != "$host" ] && command -v "$candidate-g++" >/dev/null; then
    triplet=$candidate
    break
  fi
done
[ -n "$triplet" ] || { echo "$check: skipped, no cross compiler (g++-s390x-linux-gnu)"; exit 77; }
processor=${triplet%%-*}

work=$(mktemp -d "${TMPDIR:-/tmp}/zelko-cross.XXXXXX")
trap 'rm -rf "$work"' EXIT
cat >"$work/toolchain.cmake" <<TOOLCHAIN
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR $processor)
set(CMAKE_C_COMPILER $triplet-gcc)
set(CMAKE_CXX_COMPILER $triplet-g++)
TOOLCHAIN
status=0
cmake -S "$source" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" \
  -DBUILD_TESTING=OFF -DOPENSSL_CRYPTO_LIBRARY="$library" -DOPENSSL_INCLUDE_DIR="$include" \
  >"$work/out" 2>&1 || status=$?
output=$(cat "$work/out")
[ $status -eq 0 ] || fail "configure failed ($status): $output"
warnings=$(grep -c 'CMake Warning' "$work/out" || true)
[ "$warnings" = 1 ] || fail "$warnings warnings, not one: $output"
# CMake folds the warning's lines; what it names must be there in full.
flat=$(tr -s ' \n' '  ' <"$work/out")
for said in "derodi-sim needs OpenSSL's libcrypto for $processor" "$library" \
  "libcrypto for $processor: install libssl-dev:${arch_of[$triplet]}" "-DZELKO_BUILD_SIM=OFF"; do
  [[ $flat == *"$said"* ]] || fail "the warning does not say \"$said\": $output"
done
[ ! -e "$work/build/tools/derodi-sim" ] || fail "the stand-in daemon is configured all the same"
[ -f "$work/build/zelko-cli/Makefile" ] || [ -f "$work/build/build.ninja" ] ||
  fail "the client is not configured"
finish "the stand-in is left out with one warning naming libssl-dev:${arch_of[$triplet]}"
