#!/usr/bin/env bash
# The package's prerm, run against a scratch /etc and /var: removal takes the enabled-timer
# links of every profile away and lists them for a reinstall, an upgrade leaves them.
#   prerm_test.sh PRERM
set -euo pipefail
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
etc=$scratch/etc/systemd/system
home=$scratch/var/lib/remoteccm
mkdir -p "$home"
sed "s|/etc/systemd/system|$etc|g; s|/var/lib/remoteccm|$home|g" "$1" >"$scratch/prerm"
enable() {
  mkdir -p "$etc/timers.target.wants"
  for profile in SITE1 'SITE\x202'; do
    ln -sf /lib/systemd/system/remoteccm@.timer "$etc/timers.target.wants/remoteccm@$profile.timer"
  done
  ln -sf /lib/systemd/system/other.timer "$etc/timers.target.wants/other.timer"
}
enable
sh "$scratch/prerm" upgrade
[ "$(ls "$etc/timers.target.wants" | wc -l)" -eq 3 ] || { echo "FAIL: an upgrade removed links"; exit 1; }
[ ! -e "$home/.timers-enabled-at-removal" ] || { echo "FAIL: an upgrade listed timers"; exit 1; }
sh "$scratch/prerm" remove
left=$(ls "$etc/timers.target.wants")
[ "$left" = "other.timer" ] || { echo "FAIL: after removal: $left"; exit 1; }
listed=$(sort "$home/.timers-enabled-at-removal" | paste -sd ' ')
[ "$listed" = 'timers.target.wants/remoteccm@SITE1.timer timers.target.wants/remoteccm@SITE\x202.timer' ] ||
  { echo "FAIL: listed $listed"; exit 1; }
echo "prerm: removal disables the timers and lists them, an upgrade keeps them"
