#!/usr/bin/env bash
# Each option of remoteccm-cli must have an entry of its own in --help, in its man page's OPTIONS
# section and in the bash and zsh completions, so that none of them falls behind the program
# again. An entry is what introduces the option, not any text that names it: the head of a help
# line, the tag of a man page's .TP paragraph, the bash completion's list of options, a zsh
# _arguments spec.
#   options_agree.sh REMOTECCM_CLI MAN_PAGE BASH_COMPLETION ZSH_COMPLETION
set -euo pipefail
cli=$1 man=$2 completion=$3 zsh=$4

# The options named in a text (the long ones and -h), one per line, sorted and unique.
options_in() {
  grep -oE -- '(^|[^A-Za-z0-9_-])(--[a-z][a-z-]*|-h\b)' | sed 's/^[^-]*//' | LC_ALL=C sort -u
}

# The heads of the help's entries: an indented line that starts with an option, up to its
# description (from the 21st column, or after two blanks).
help_heads() {
  while IFS= read -r line; do
    [[ $line == "  -"* ]] || continue
    if [ "${#line}" -gt 20 ] && [ "${line:19:1}" = " " ] && [ "${line:20:1}" != " " ]; then
      echo "${line:0:20}"
    else
      line=${line:2}
      echo "${line%%  *}"
    fi
  done
}

everything=$("$cli" --help | options_in)
help=$("$cli" --help | help_heads | options_in)
short=$("$cli" -h | help_heads | options_in)
manual=$(sed -n '/^\.SH OPTIONS/,/^\.SH [^O]/p' "$man" | awk '/^\.TP/ { getline; print }' |
  sed 's/\\-/-/g' | options_in)
offered=$(sed -n '/program == remoteccm-cli/,/^  else/p' "$completion" | options_in)
zsh_offered=$(sed -n '/^_arguments/,$p' "$zsh" | sed -E "s/^ *'(\([^)]*\)')?//; s/\[.*//" |
  options_in)

failures=0
compare() {
  if [ "$2" != "$help" ]; then
    echo "FAIL: $1 differs from the entries of --help (< --help, > $1):"
    diff <(echo "$help") <(echo "$2") | grep '^[<>]' || true
    failures=$((failures + 1))
  fi
}
compare "every option --help names" "$everything"
compare "-h" "$short"
compare "the man page's OPTIONS entries" "$manual"
compare "the bash completion" "$offered"
compare "the zsh completion's specs" "$zsh_offered"
[ "$failures" -eq 0 ] && echo "options: --help, the man page and the completions agree ($(echo "$help" | wc -l) options)"
exit "$failures"
