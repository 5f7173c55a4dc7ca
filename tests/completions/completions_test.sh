#!/usr/bin/env bash
# The shell completions, sourced in bash, zsh and fish: the cipher and hash names they offer are
# the program's, and their commands and options are the ones each command's --help lists.
#   completions_test.sh KRYVANE_CLI COMPLETIONS_DIR
set -uo pipefail
cli=$1 dir=$2
here=$(cd "$(dirname "$0")" && pwd)
export PATH="$(cd "$(dirname "$cli")" && pwd):$PATH"
failures=0

# What SHELL offers for LINE (the cursor at its end), sorted, one a line.
offers() {
  local shell=$1 line=$2
  case $shell in
    bash)
      bash --norc --noprofile -c '
        source "$1/kryvane-cli.bash"
        read -ra COMP_WORDS <<< "$2"
        [[ $2 == *" " ]] && COMP_WORDS+=("")
        COMP_CWORD=$(( ${#COMP_WORDS[@]} - 1 )) COMP_LINE=$2 COMP_POINT=${#2}
        _kryvane_cli
        printf "%s\n" "${COMPREPLY[@]}"' _ "$dir" "$line" ;;
    fish) fish --no-config -c 'source $argv[1]/kryvane-cli.fish; complete -C $argv[2]' "$dir" "$line" |
      cut -f1 ;;
  esac | grep -v '^$' | sort -u
}

# The command lines to complete and what each must offer.
lines=() wants=()
expect() {
  lines+=("$1")
  wants+=("$2")
}

# The options (first spelling of each, short and long) and commands that --help lists.
help_options() {
  "$cli" $1 --help | grep -E '^  -' | awk '{print $1}' | tr ',' '\n' | sort -u
}
help_commands() {
  "$cli" $1 --help | sed -n '/^Subcommands:/,/^$/p' | grep -E '^  [a-z]' | awk '{print $1}' | sort -u
}

ciphers=$("$cli" list --names ciphers | sort)
hashes=$("$cli" list --names hashes | sort)
[[ -n $ciphers && -n $hashes ]] || { echo "FAIL: $cli list --names gave nothing"; exit 1; }

expect "kryvane-cli encrypt -c r" $'rc2\nrc4\nrijndael'
expect "kryvane-cli decrypt --cipher " "$ciphers"
expect "kryvane-cli text encrypt -c " "$ciphers"
expect "kryvane-cli encrypt -H " "$hashes"
expect "kryvane-cli hash -H " "$hashes"
expect "kryvane-cli encrypt --encoding " $'auto\ncp1252\nutf-8'
expect "kryvane-cli list " $'ciphers\nhashes'
for command in "" text; do
  expect "kryvane-cli $command${command:+ }" "$(help_commands "$command")"
done
for command in "" encrypt decrypt hash text "text encrypt" "text decrypt" list selftest; do
  expect "kryvane-cli $command${command:+ }-" "$(help_options "$command")"
done

for shell in bash zsh fish; do
  command -v $shell > /dev/null || { echo "FAIL: $shell is not installed (scripts/deps.sh)"; exit 1; }
  # zsh starts once for all lines, as "INDEX<TAB>MATCH" lines.
  [[ $shell == zsh ]] && zsh_out=$(zsh -f "$here/zsh_complete.zsh" "$dir" "${lines[@]}")
  for i in "${!lines[@]}"; do
    if [[ $shell == zsh ]]; then
      got=$(awk -F'\t' -v n=$((i + 1)) '$1 == n {print $2}' <<< "$zsh_out" | sort -u)
    else
      got=$(offers $shell "${lines[i]}")
    fi
    if [[ $got != "${wants[i]}" ]]; then
      echo "FAIL: $shell, '${lines[i]}'"
      diff <(echo "${wants[i]}") <(echo "$got") | sed 's/^/    /'
      failures=$((failures + 1))
    fi
  done
done

if ((failures > 0)); then
  echo "$failures completion checks failed: the files in completions/ must offer the commands and"
  echo "options that each command's --help lists; a new one goes into all three files"
  exit 1
fi
echo "completions: bash, zsh and fish offer the program's names, commands and options"
