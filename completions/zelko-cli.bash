# SPDX-License-Identifier: MIT
# bash completion for zelko-cli

# Key names from the running daemon; nothing when it does not answer.
_zelko_cli_key_names() {
  local program=${COMP_WORDS[0]} line
  command -v "$program" >/dev/null 2>&1 || program=zelko-cli
  # Key lines hold a tab; the empty-list line "no keys" does not.
  timeout 2 "$program" keys 2>/dev/null | while IFS= read -r line; do
    [[ $line == *$'\t'* ]] && printf '%s\n' "${line%%$'\t'*}"
  done
}

# Those of the given flags that are not on the line yet, one per line;
# with `pairs`, only every other word after the command counts as a flag.
_zelko_cli_unused() {
  local step=1
  if [[ $1 == pairs ]]; then
    step=2
    shift
  fi
  local flag i
  for flag in "$@"; do
    for ((i = 2; i < COMP_CWORD; i += step)); do
      [[ ${COMP_WORDS[i]} == "$flag" ]] && continue 2
    done
    printf '%s\n' "$flag"
  done
}

_zelko_cli() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  local prev=${COMP_WORDS[COMP_CWORD - 1]}
  local IFS=$'\n'
  COMPREPLY=()
  if ((COMP_CWORD == 1)); then
    COMPREPLY=($(compgen -W $'status\nkeys\ngetpub\nfingerprint\ndevices\nauthorize\ngenerate\nsetup\nhelp\n--help\n-h\n--version\n-V' -- "$cur"))
    return
  fi
  case ${COMP_WORDS[1]} in
    keys)
      COMPREPLY=($(compgen -W "$(_zelko_cli_unused --long --json)" -- "$cur"))
      ;;
    getpub)
      if ((COMP_CWORD == 2)); then
        COMPREPLY=($(compgen -W "$(_zelko_cli_key_names)" -- "$cur"))
      elif ((COMP_CWORD == 3)); then
        COMPREPLY=($(compgen -W '--out' -- "$cur"))
      elif ((COMP_CWORD == 4)) && [[ $prev == --out ]]; then
        COMPREPLY=($(compgen -f -- "$cur"))
        compopt -o filenames 2>/dev/null
      fi
      ;;
    fingerprint)
      if ((COMP_CWORD == 2)); then
        COMPREPLY=($(compgen -W "$(_zelko_cli_key_names)" -- "$cur"))
      fi
      ;;
    authorize)
      if ((COMP_CWORD == 2)); then
        COMPREPLY=($(compgen -W '--minutes' -- "$cur"))
      fi
      ;;
    generate)
      if ((COMP_CWORD % 2 == 1)); then
        case $prev in
          --type) COMPREPLY=($(compgen -W $'ed25519\nrsa' -- "$cur")) ;;
          --bits) COMPREPLY=($(compgen -W $'2048\n3072\n4096' -- "$cur")) ;;
        esac
      else
        COMPREPLY=($(compgen -W "$(_zelko_cli_unused pairs --type --bits --name)" -- "$cur"))
      fi
      ;;
    setup)
      if ((COMP_CWORD == 2)); then
        COMPREPLY=($(compgen -W '--undo' -- "$cur"))
      fi
      ;;
  esac
}

complete -F _zelko_cli zelko-cli
