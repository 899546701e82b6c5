# SPDX-License-Identifier: MIT
# fish completion for zelko-cli

# Key names from the running daemon; nothing when it does not answer.
function __zelko_cli_key_names
    timeout 2 zelko-cli keys 2>/dev/null | string match --regex '^[^\t]+(?=\t)'
end

function __zelko_cli_argument_count
    count (commandline --tokenize --cut-at-cursor)
end

# True when `flag` is not among the words after the command yet.
function __zelko_cli_not_given --argument-names flag
    not contains -- $flag (commandline --tokenize --cut-at-cursor)[3..-1]
end

set -l commands status keys getpub fingerprint devices authorize generate setup help

complete -c zelko-cli --no-files
complete -c zelko-cli -n "__fish_is_first_arg" -a status -d 'Endpoint, phone, metadata, active window'
complete -c zelko-cli -n "__fish_is_first_arg" -a keys -d 'Keys the phone offers'
complete -c zelko-cli -n "__fish_is_first_arg" -a getpub -d 'Print an authorized_keys line'
complete -c zelko-cli -n "__fish_is_first_arg" -a fingerprint -d "Print one key's SHA256 fingerprint"
complete -c zelko-cli -n "__fish_is_first_arg" -a devices -d 'Paired phones'
complete -c zelko-cli -n "__fish_is_first_arg" -a authorize -d 'Ask the phone for an authorization window'
complete -c zelko-cli -n "__fish_is_first_arg" -a generate -d 'Generate a key on the phone'
complete -c zelko-cli -n "__fish_is_first_arg" -a setup -d 'How to make Zelko the agent for new shells'
complete -c zelko-cli -n "__fish_is_first_arg" -a help -d 'Print the usage'
complete -c zelko-cli -n "__fish_is_first_arg" -a '--help -h' -d 'Print the usage'
complete -c zelko-cli -n "__fish_is_first_arg" -a '--version -V' -d 'Print the version'

complete -c zelko-cli -n "__fish_seen_subcommand_from keys; and __zelko_cli_not_given --long" -a --long -d 'With fingerprints'
complete -c zelko-cli -n "__fish_seen_subcommand_from keys; and __zelko_cli_not_given --json" -a --json -d 'As JSON'
complete -c zelko-cli -n "__fish_seen_subcommand_from getpub; and test (__zelko_cli_argument_count) -eq 2" -a '(__zelko_cli_key_names)'
complete -c zelko-cli -n "__fish_seen_subcommand_from getpub; and test (__zelko_cli_argument_count) -eq 3" -a '--out'
complete -c zelko-cli -n "__fish_seen_subcommand_from getpub; and __fish_prev_arg_in --out" -F
complete -c zelko-cli -n "__fish_seen_subcommand_from fingerprint; and test (__zelko_cli_argument_count) -eq 2" -a '(__zelko_cli_key_names)'
complete -c zelko-cli -n "__fish_seen_subcommand_from authorize; and test (__zelko_cli_argument_count) -eq 2" -a '--minutes'
complete -c zelko-cli -n "__fish_seen_subcommand_from generate; and __fish_prev_arg_in --type" -a 'ed25519 rsa'
complete -c zelko-cli -n "__fish_seen_subcommand_from generate; and __fish_prev_arg_in --bits" -a '2048 3072 4096'
for flag in --type --bits --name
    complete -c zelko-cli -n "__fish_seen_subcommand_from generate; and not __fish_prev_arg_in --type --bits --name; and __zelko_cli_not_given $flag" -a $flag
end
complete -c zelko-cli -n "__fish_seen_subcommand_from setup; and test (__zelko_cli_argument_count) -eq 2" -a '--undo'
