# zsh -f zsh_complete.zsh FPATH_DIR WORK_DIR LINE
# Types LINE and TAB into an interactive zsh on a pty and prints the line as
# completion left it; a key bound to a widget prints it between two control
# bytes, which the echo of the typed commands never holds.
zmodload zsh/zpty
zpty -b z zsh -f -i
zpty -w z "PS1=; fpath=($1 \$fpath); autoload -Uz compinit; compinit -u -d $2/zcompdump"
zpty -w z "dump() { print -r -- \$'\\x01'\$BUFFER\$'\\x02'; BUFFER=; }; zle -N dump; bindkey ^T dump"
zpty -w -n z "$3"$'\t\x14'
zpty -r -m z out "*"$'\x01'"*"$'\x02'"*"
out=${out##*$'\x01'}
print -r -- ${out%%$'\x02'*}
zpty -d z
