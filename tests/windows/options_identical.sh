#!/usr/bin/env bash
# The Linux remoteccm-cli and remoteccm-cli.exe under Wine take the same command line: --help
# lists the same options, and each invocation of the table below, good or wrong, ends with the
# same exit status, so that a scheduler's or a monitor's reading of it holds on both.
#   options_identical.sh LINUX_CLI WINDOWS_CLI SCRATCH
set -euo pipefail
linux=$1 windows=$2 scratch=$3
rm -rf "$scratch"
mkdir -p "$scratch"
windows_scratch=$(winepath -w "$scratch")

# The options named in a text (the long ones and -h), one per line, sorted and unique.
options_in() {
  grep -oE -- '(^|[^A-Za-z0-9_-])(--[a-z][a-z-]*|-h\b)' | sed 's/^[^-]*//' | LC_ALL=C sort -u
}
# The Windows help adds a paragraph on where the system services come from: its options are
# named above it too.
linux_options=$("$linux" --help | options_in)
windows_options=$(wine "$windows" --help | sed '/^On Windows:/,$d' | options_in)
failures=0
if [ "$linux_options" != "$windows_options" ]; then
  echo "FAIL: the two --help texts name different options (< Linux, > Windows):"
  diff <(echo "$linux_options") <(echo "$windows_options") | grep '^[<>]' || true
  failures=$((failures + 1))
fi

status_of() { "$@" >/dev/null 2>&1 </dev/null && echo 0 || echo $?; }
invocations=("--help" "-h" "--version" "--bogus" "NOSUCH" "--status NOSUCH" "--status"
  "--check" "--print" "--home" "--max-age 5x --status" "--print NOSUCH" "--list-zones"
  "SITE EXTRA" "--status --print")
for invocation in "${invocations[@]}"; do
  # shellcheck disable=SC2086 # each invocation is words
  linux_status=$(REMOTECCM_HOME="$scratch" REMOTECCM_REGISTRY="$scratch/install.ini" \
    status_of "$linux" $invocation)
  # shellcheck disable=SC2086
  windows_status=$(REMOTECCM_HOME="$windows_scratch" \
    REMOTECCM_REGISTRY="$windows_scratch\\install.ini" status_of wine "$windows" $invocation)
  if [ "$linux_status" != "$windows_status" ]; then
    echo "FAIL: remoteccm-cli $invocation ends $linux_status on Linux, $windows_status on Windows"
    failures=$((failures + 1))
  fi
done
[ "$failures" -eq 0 ] && echo "The two builds take the same $(echo "$linux_options" | wc -l) options" \
  "and end ${#invocations[@]} invocations with the same exit statuses."
exit "$failures"
