#!/usr/bin/env bash
# Bash completion of remoteccm-cli: options, switches, and the profile names of a program home
# whose files have blanks and quotes in their names, however the typed word is quoted.
#   completion_test.sh COMPLETION_FILE
set -u
# shellcheck disable=SC1090
source "$1"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
home=$scratch/home
other="$scratch/a home"
mkdir -p "$home/folder.CCM" "$other"
touch "$home/SITE1.CCM" "$home/My Site.CCM" "$home/it's.ccm" "$home/say \"hi\".CCM" \
  "$home/notes.txt" "$other/Other.CCM"

failures=0
# check EXPECTED WORD... : the candidates for the last word, sorted and joined by "|".
check() {
  local expected=$1
  shift
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMPREPLY=()
  _remoteccm 2>/dev/null
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd '|')
  if [ "$got" != "$expected" ]; then
    echo "FAIL: ${COMP_WORDS[*]}: got [$got], expected [$expected]"
    failures=$((failures + 1))
  fi
}

export REMOTECCM_HOME=$home
check "My Site|SITE1|it's|say \"hi\"" remoteccm-cli ""
check "My Site" remoteccm-cli 'My\ S'
check "My Site" remoteccm-cli "'my s"
check "it's" remoteccm-cli "it\\'"
check "say \"hi\"" remoteccm-cli '"say \"'
check "SITE1" remoteccm-cli --print si
check "--check|--check-format|--columns|--companion-listen|--critical-age" remoteccm-cli --c
check "SITE1" remoteccm-cli --status si
check "SITE1" remoteccm-cli --rotate-backup SI
check "debug" remoteccm-cli --log-level d
check "nagios" remoteccm-cli --check-format ""
check "--home|--version" remoteccm --
check "/DEFAULT" remoteccm-cli /def
check "/CONFIG|/DEFAULT|/ENTITY:|/VISIBLE" remoteccm /
check "Other" remoteccm-cli --home "'$other'" ""
check "Other" remoteccm-cli --home "${other// /\\ }" O
unset REMOTECCM_HOME
XDG_CONFIG_HOME=$scratch/config
mkdir -p "$XDG_CONFIG_HOME/remoteccm"
touch "$XDG_CONFIG_HOME/remoteccm/XDG.CCM"
check "XDG" remoteccm-cli ""

[ "$failures" -eq 0 ] && echo "completion: all cases pass"
exit "$failures"
