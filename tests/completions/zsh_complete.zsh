#!/usr/bin/env zsh
# Prints what zsh's completion system offers for each command line (the cursor at its end), as
# "INDEX<TAB>MATCH" lines, INDEX counting the lines from 1:
#   zsh_complete.zsh COMPLETION_DIR 'kryvane-cli encrypt -c r' 'kryvane-cli ' ...
# Runs one interactive zsh on a pseudo-terminal, types each line, presses Tab, and records every
# match that the completion functions add.
emulate -L zsh
zmodload zsh/zpty || exit 2
dir=$1
shift

zpty z zsh -f -i
zpty -w z "PROMPT=; RPROMPT=; unsetopt zle_bracketed_paste 2>/dev/null"
zpty -w z "fpath=(${(q)dir} \$fpath); autoload -U compinit; compinit -u -D"
# Every match a completion function adds is printed between markers instead of being listed
# (the markers are split in the source so that the terminal's echo of it never matches).
zpty -w z 'compadd() {
  if [[ ${@[1,(i)(-|--)]} == *-(O|A|D)\ * ]]; then builtin compadd "$@"; return; fi
  local -a hits; builtin compadd -A hits "$@"
  (( $#hits )) && builtin printf "<ma""tch>$index\t%s</ma""tch>\n" "${hits[@]}"
  builtin compadd "$@"
}'
zpty -w z 'finish() { BUFFER=; builtin print "<do""ne>" }; zle -N finish; bindkey "^T" finish'
zpty -w z "bindkey '^I' complete-word; zstyle ':completion:*' list-prompt ''; zstyle ':completion:*' menu no"
local out chunk
integer index=0
for line in "$@"; do
  index+=1
  zpty -w z "index=$index"
  zpty -n -w z "$line"$'\t\x14'
  while zpty -r z chunk; do
    out+=$chunk
    [[ ${#${(M)${(f)out}:#*<done>*}} -ge $index ]] && break
  done
done
zpty -d z
print -r -- $out | grep -ao '<match>[0-9]*'$'\t''.*</match>' | sed 's/<match>\(.*\)<\/match>/\1/'
