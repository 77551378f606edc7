#!/usr/bin/env bash
# The package's prerm, run against a scratch /etc: removal takes the enabled-timer links of
# every profile away, an upgrade leaves them.
#   prerm_test.sh PRERM
set -euo pipefail
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
etc=$scratch/etc/systemd/system
sed "s|/etc/systemd/system|$etc|g" "$1" >"$scratch/prerm"
enable() {
  mkdir -p "$etc/timers.target.wants"
  for profile in SITE1 "SITE 2"; do
    ln -sf /lib/systemd/system/remoteccm@.timer "$etc/timers.target.wants/remoteccm@$profile.timer"
  done
  ln -sf /lib/systemd/system/other.timer "$etc/timers.target.wants/other.timer"
}
enable
sh "$scratch/prerm" upgrade
[ "$(ls "$etc/timers.target.wants" | wc -l)" -eq 3 ] || { echo "FAIL: an upgrade removed links"; exit 1; }
sh "$scratch/prerm" remove
left=$(ls "$etc/timers.target.wants")
[ "$left" = "other.timer" ] || { echo "FAIL: after removal: $left"; exit 1; }
echo "prerm: removal disables the timers, an upgrade keeps them"
