# SPDX-License-Identifier: MIT
# Shared by the shell checks, which source it after setting `check`, their
# name in messages.

# Exits with 77 (skipped) when one of the tools is missing, or fails the
# check when CI is set, since CI installs every one of them.
require_tools() {
  local tool
  for tool in "$@"; do
    if ! command -v "$tool" >/dev/null; then
      echo "$check: $tool is missing"
      [ -n "${CI:-}" ] && exit 1
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
