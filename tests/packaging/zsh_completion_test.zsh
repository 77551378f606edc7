#!/usr/bin/env zsh
# The zsh completion of remoteccm-cli at work in a real interactive zsh (on a pseudo-terminal):
# options, their values, the switches and the profile names of a program home, as the Tab key
# offers them. Each candidate zsh would add is printed as <<candidate>>.
#   zsh_completion_test.zsh COMPLETION_FOLDER
emulate -L zsh
setopt err_return no_unset
zmodload zsh/zpty

scratch=$(mktemp -d)
trap 'zpty -d shell 2>/dev/null; rm -rf $scratch' EXIT
home=$scratch/home
other="$scratch/a home"
mkdir -p $home/folder.CCM $other
touch $home/SITE1.CCM "$home/My Site.CCM" "$home/it's.ccm" $home/notes.txt $other/Other.CCM

zpty shell zsh -f -i
send() { zpty -w shell "$1" }
send "PS1='' RPROMPT=''; fpath=(${(q)1} \$fpath); autoload -Uz compinit; compinit -u -D"
# What a function of the completion system collects for itself (-O, -A, -D) is not offered.
send 'compadd() {
  local -a orig=("$@") collect rest found
  zparseopts -E -a rest O:=collect A:=collect D:=collect P: S: p: s: i: I: W: J: V: X: x: r: R: F: M: E: d:
  set -- "${orig[@]}"
  if (( $#collect )); then builtin compadd "$@"; return; fi
  builtin compadd -O found "$@"
  (( $#found )) && print -rl -- "<<"${^found}">>"
  builtin compadd "$@"
}'
send 'finished() { print -n "<<END>>" }; zle -N finished; bindkey "^X" finished; bindkey "^I" complete-word'
send "export REMOTECCM_HOME=${(q)home}; echo re''ady"
zpty -r shell out '*ready*'

failures=0
# check EXPECTED LINE: the candidates Tab offers at the end of LINE, sorted and joined by "|".
check() {
  local expected=$1 line=$2 out got
  # Tab completes, ^X marks the end of what it printed, ^U clears the line for the next case.
  zpty -w -n shell "$line"$'\t\x18'
  zpty -r shell out '*<<END>>*'
  zpty -w -n shell $'\x15'
  local -a found=(${(f)"$(print -r -- "$out" | grep -o '<<[^<>]*>>' | grep -v '^<<END>>$')"})
  got=${(j:|:)${(ou)found//(<<|>>)/}}
  if [[ $got != "$expected" ]]; then
    print -r -- "FAIL: $line: got [$got], expected [$expected]"
    failures=$((failures + 1))
  fi
  return 0
}

check "/CONFIG|/DEFAULT|/ENTITY:|/VISIBLE|My Site|SITE1|it's" 'remoteccm-cli '
check "/DEFAULT" 'remoteccm-cli /D'
check "SITE1" 'remoteccm-cli --print SI'
check "SITE1" 'remoteccm-cli --status SI'
check "--check|--check-format|--columns|--companion-listen|--critical-age" 'remoteccm-cli --c'
check "debug" 'remoteccm-cli --log-level d'
check "nagios" 'remoteccm-cli --check-format '
check "Other" "remoteccm-cli --home ${(q)other} O"
check "Other" "remoteccm-cli --home '$other' --print "

(( failures == 0 )) && print "zsh completion: all cases pass"
exit $failures
