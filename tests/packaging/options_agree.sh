#!/usr/bin/env bash
# The options of remoteccm-cli as --help lists them, as its man page's OPTIONS section describes
# them and as the bash and zsh completions offer them must be the same set, so that none of
# them falls behind the program again.
#   options_agree.sh REMOTECCM_CLI MAN_PAGE BASH_COMPLETION ZSH_COMPLETION
set -euo pipefail
cli=$1 man=$2 completion=$3 zsh=$4

# The options named in a text (the long ones and -h), one per line, sorted and unique.
options_in() {
  grep -oE -- '(^|[^A-Za-z0-9_-])(--[a-z][a-z-]*|-h\b)' | sed 's/^[^-]*//' | LC_ALL=C sort -u
}

help=$("$cli" --help | options_in)
short=$("$cli" -h | options_in)
manual=$(sed -n '/^\.SH OPTIONS/,/^\.SH [^O]/p' "$man" | sed 's/\\-/-/g' | options_in)
offered=$(sed -n '/program == remoteccm-cli/,/^  else/p' "$completion" | options_in)
zsh_offered=$(sed -n '/^_arguments/,$p' "$zsh" | options_in)

failures=0
compare() {
  if [ "$2" != "$help" ]; then
    echo "FAIL: $1 differs from --help (< --help, > $1):"
    diff <(echo "$help") <(echo "$2") | grep '^[<>]' || true
    failures=$((failures + 1))
  fi
}
compare "-h" "$short"
compare "the man page's OPTIONS" "$manual"
compare "the bash completion" "$offered"
compare "the zsh completion" "$zsh_offered"
[ "$failures" -eq 0 ] && echo "options: --help, the man page and the completion agree ($(echo "$help" | wc -l) options)"
exit "$failures"
