#!/usr/bin/env bash
# systemd-analyze verify on the template units, instantiated for a profile DEMO: any complaint
# (an unknown key, a value systemd would ignore) fails. Skipped (77) without systemd's tools.
#   verify_units.sh UNIT_DIR CLI_PATH
set -euo pipefail
units=$1
cli=$2
if ! command -v systemd-analyze >/dev/null; then
  echo "verify_units: systemd-analyze is not installed"
  exit 77
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp "$units/remoteccm@.service" "$units/remoteccm@.timer" "$scratch/"
# The unit names the installed program, which verify wants to find; the one just built stands
# in for it.
sed -i "s|^ExecStart=/usr/bin/remoteccm-cli |ExecStart=\"$cli\" |" "$scratch/remoteccm@.service"
# Record lines (debug) stay out of the journal.
grep -q "^ExecStart=\"$cli\" --log-level info %I$" "$scratch/remoteccm@.service"
grep -q '^SuccessExitStatus=75$' "$scratch/remoteccm@.service"
# A hung run has a limit; a stopped one (exit 6) is not taken for a success.
grep -q '^TimeoutStartSec=' "$scratch/remoteccm@.service"
grep -q '^Persistent=true$' "$scratch/remoteccm@.timer"

status=0
output=$(SYSTEMD_UNIT_PATH="$scratch:" systemd-analyze verify --man=no \
  remoteccm@DEMO.service remoteccm@DEMO.timer 2>&1) || status=$?
if [ "$status" -ne 0 ] || [ -n "$output" ]; then
  echo "$output"
  echo "verify_units: systemd-analyze verify failed (status $status)"
  exit 1
fi
echo "verify_units: remoteccm@DEMO.service and remoteccm@DEMO.timer verified"
