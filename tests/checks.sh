# SPDX-License-Identifier: MIT
# Shared by the shell checks, which source it after setting `check`, their
# name in messages.

# The lines of the fenced block that follows the line of `readme` (a
# README.md) that begins with `marker`, such as "<!-- by-hand".
readme_block() {
  local readme=$1 marker=$2
  awk -v marker="$marker" 'index($0, marker) == 1 { marked = 1; next }
    marked && /^```/ { if (inside) exit; inside = 1; next }
    inside { print }' "$readme"
}

# Exits with 77 (skipped) when one of the tools is missing.
require_tools() {
  local tool
  for tool in "$@"; do
    if ! command -v "$tool" >/dev/null; then
      echo "$check: skipped, $tool is missing"
      exit 77
    fi
  done
}

# Counts a problem and goes on, so that one run reports all of them.
failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

# Ends the check: its summary on success, the count of problems otherwise.
finish() {
  if [ $failures -eq 0 ]; then
    echo "$check: $1"
  else
    echo "$check: $failures problem(s)"
    exit 1
  fi
}

# hardening-check's options for the programs a C++ compiler `$1` links:
# control-flow marking is demanded only where the C library's start-up
# files carry it, without which the linker rightly leaves it off.
hardening_options() {
  local startup
  startup=$("$1" -print-file-name=Scrt1.o 2>/dev/null) || true
  if ! [[ $(readelf -n "$startup" 2>/dev/null) == *"IBT, SHSTK"* ]]; then
    echo --nocfprotection
  fi
}
