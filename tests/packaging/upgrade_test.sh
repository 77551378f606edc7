#!/usr/bin/env bash
# The packages installed by dpkg into a scratch root, as an administrator has them: the single
# package remoteccm of before the split, built from an older commit, collecting on a schedule;
# then the upgrade to the new packages, which must lose nothing (profiles, state, the records,
# the enabled timers) and go on collecting where the old one stopped; then what the shipped
# set-up lets the call-accounting reader and monitoring do, and what a remove, a reinstall and
# a purge leave.
#
# The scratch root sees the machine's /usr, /etc and /var through overlays whose changes stay
# in a scratch folder, and the packages' maintainer scripts run chrooted in it: nothing of the
# machine changes. Needs the superuser (mounts, chroot) and the history of OLD_COMMIT; exits 77
# without the superuser.
#   upgrade_test.sh OLD_COMMIT WORK_DIR NEW_PACKAGE...
set -euo pipefail
say() { echo "upgrade: $*"; }
fail() {
  echo "upgrade: FAIL: $*" >&2
  exit 1
}

if [ "${1:-}" != --inside ]; then
  old_commit=$1 work=$2
  shift 2
  if [ "$(id -u)" -ne 0 ]; then
    say "skipped: a scratch root with dpkg needs the superuser"
    exit 77
  fi
  source=$(cd "$(dirname "$0")/../.." && pwd)
  mkdir -p "$work"
  work=$(cd "$work" && pwd)
  # The old package, built once per commit: without optimisation, the tests or debug information
  # (a few minutes), then packaged by that commit's own CPack settings.
  old=$work/old-$old_commit
  if ! ls "$old"/build/remoteccm_*.deb >/dev/null 2>&1; then
    say "building the package of $old_commit"
    rm -rf "$old" && mkdir -p "$old/source"
    git -c safe.directory="$source" -C "$source" archive "$old_commit" | tar -x -C "$old/source"
    cmake -S "$old/source" -B "$old/build" -G Ninja -DCMAKE_BUILD_TYPE= -DCMAKE_CXX_FLAGS="-O0 -g0" \
      -DREMOTECCM_BUILD_TESTS=OFF >"$old/configure.log" 2>&1 || fail "$(tail -20 "$old/configure.log")"
    cmake --build "$old/build" >"$old/build.log" 2>&1 || fail "$(tail -30 "$old/build.log")"
    (cd "$old/build" && cpack -G DEB >cpack.log 2>&1) || fail "$(tail -20 "$old/build/cpack.log")"
  fi
  new=()
  for package in "$@"; do new+=("$(cd "$(dirname "$package")" && pwd)/$(basename "$package")"); done
  scratch=$(mktemp -d "$work/root.XXXXXX")
  status=0
  unshare --mount --propagation private bash "$0" --inside "$scratch" \
    "$(ls "$old"/build/remoteccm_*.deb)" "${new[@]}" || status=$?
  # Out here the namespace and its mounts are gone: what is left is the scratch folder's own.
  rm -rf --one-file-system "$scratch"
  exit "$status"
fi

# ---- inside a mount namespace of its own, which ends with this script -----------------------
# Nothing here removes files: the root holds mounts until the namespace ends.
shift
scratch=$1 old_package=$2
shift 2
new_packages=("$@")
root=$scratch/root
mkdir -p "$root"
for folder in usr etc var; do
  mkdir -p "$scratch/$folder-changes" "$scratch/$folder-work" "$root/$folder"
  mount -t overlay overlay \
    -o "lowerdir=/$folder,upperdir=$scratch/$folder-changes,workdir=$scratch/$folder-work" "$root/$folder"
done
for link in bin sbin lib lib64; do
  if [ -L "/$link" ]; then ln -s "$(readlink "/$link")" "$root/$link"; fi
done
# A /dev of its own with the few devices the scripts and programs use, never the machine's.
mkdir -p "$root/dev" "$root/proc" "$root/run" "$root/tmp"
mount -t tmpfs -o mode=755 tmpfs "$root/dev"
for device in null:1:3 zero:1:5 full:1:7 random:1:8 urandom:1:9 tty:5:0; do
  IFS=: read -r name major minor <<<"$device"
  mknod -m 666 "$root/dev/$name" c "$major" "$minor"
done
mount -t proc proc "$root/proc"
mount -t tmpfs tmpfs "$root/run"
mount -t tmpfs tmpfs "$root/tmp"
if grep -q '^remoteccm:' "$root/etc/passwd" || [ -e "$root/var/lib/remoteccm" ] ||
  dpkg-query --admindir="$root/var/lib/dpkg" -W remoteccm >/dev/null 2>&1; then
  fail "this machine has remoteccm installed or its user: the scratch root would not be fresh"
fi

home=/var/lib/remoteccm
spool=/var/spool/remoteccm
dpkg_root() { dpkg --root="$root" "$@" >"$scratch/dpkg.log" 2>&1 || fail "dpkg $*: $(cat "$scratch/dpkg.log")"; }
in_root() { chroot "$root" "$@"; }
# A command as the scheduled runs' user, with the environment and umask the installed unit
# gives them.
as_service() {
  (
    umask "$(sed -n 's/^UMask=//p' "$root/lib/systemd/system/remoteccm@.service")"
    chroot --userspec=remoteccm:remoteccm "$root" env -i PATH=/usr/bin:/bin HOME=$home \
      REMOTECCM_HOME=$home REMOTECCM_REGISTRY=$home/install.ini "$@"
  )
}
# A command as a user whose only group is `group` (uid 65534, the usual nobody).
as_member_of() {
  local group=$1
  shift
  local gid
  gid=$(sed -n "s/^$group:[^:]*:\([0-9]*\):.*/\1/p" "$root/etc/group")
  [ -n "$gid" ] || fail "no group $group"
  chroot --userspec="65534:$gid" --groups="$gid" "$root" env -i PATH=/usr/bin:/bin "$@"
}
# Fingerprints of what an administrator's collection holds: profiles, state, records.
holdings() { (cd "$root" && find ."$home" ."$spool" -type f ! -name '*.lock' -exec sha256sum {} + | sort -k2); }
state_of_timer() { systemctl --root="$root" is-enabled remoteccm@SITE1.timer 2>/dev/null || true; }

# ---- the old single package, collecting ------------------------------------------------------
dpkg_root -i "$old_package"
say "installed $(dpkg-deb --field "$old_package" Package Version | tr '\n' ' ')"
as_service remoteccm-gen-cdr --sqlite $home/cdr.db --rows 200 --seed 1 >/dev/null
printf '%s\r\n' "[Options]" "DestinationFile=$spool/SITE1.TXT" \
  "SQLConnectionString=Provider=MSDASQL;Driver=SQLite3;Database=$home/cdr.db" \
  "ConnectSQLMode=New Records Only" "SQLNewRecDate=1793491200" "SQLTimeZoneOption=3" \
  "SQLTimeZoneOffset=-5" "WaitBeforePollingAgain=0" >"$root$home/SITE1.CCM"
in_root chown remoteccm:remoteccm $home/SITE1.CCM
in_root chmod 600 $home/SITE1.CCM
as_service remoteccm-cli SITE1 >"$scratch/run.log" 2>&1 || fail "the old run: $(cat "$scratch/run.log")"
systemctl --root="$root" enable remoteccm@SITE1.timer >/dev/null 2>&1
[ "$(state_of_timer)" = enabled ] || fail "the timer could not be enabled"
collected=$(wc -l <"$root$spool/SITE1.TXT")
[ "$collected" -eq 200 ] || fail "the old run collected $collected lines of 200"
uid=$(in_root id -u remoteccm)
before=$(holdings)

# ---- the upgrade ------------------------------------------------------------------------------
# As apt hands them to dpkg: the split-off packages may come before remoteccm itself, and take
# their files over from the old one.
dpkg_root --auto-deconfigure -i "${new_packages[@]}"
say "upgraded to $(dpkg-query --admindir="$root/var/lib/dpkg" -W -f='${Package} ${Version}  ' \
  remoteccm remoteccm-gui remoteccm-gen-cdr 2>/dev/null)"
[ "$(holdings)" = "$before" ] || fail "the upgrade changed the collection: $(diff <(echo "$before") <(holdings))"
[ "$(state_of_timer)" = enabled ] || fail "the upgrade disabled the timer"
[ "$(in_root id -u remoteccm)" = "$uid" ] || fail "the user changed"
[ -x "$root/usr/bin/remoteccm" ] && [ -x "$root/usr/bin/remoteccm-gen-cdr" ] ||
  fail "the split packages did not take their programs over"
[ "$(stat -c %a "$root$spool")" = 2770 ] || fail "the destination folder is $(stat -c %a "$root$spool")"

# The next scheduled run, by the command line and environment of the installed unit, goes on
# from the stored start: only the records added since, each once, and no record line in its
# log (the journal).
unit=$root/lib/systemd/system/remoteccm@.service
exec_start=$(sed -n 's/^ExecStart=//p' "$unit" | sed 's/%I/SITE1/g')
environment=$(sed -n 's/^Environment=//p' "$unit")
as_service remoteccm-gen-cdr --sqlite $home/cdr.db --rows 50 --seed 2 --from 2026-11-03 --append >/dev/null
# shellcheck disable=SC2086
as_service $environment $exec_start >"$scratch/run.log" 2>&1 ||
  fail "the first run after the upgrade: $(cat "$scratch/run.log")"
collected=$(wc -l <"$root$spool/SITE1.TXT")
[ "$collected" -eq 250 ] || fail "after the upgrade the destination holds $collected lines, not 250"
[ -z "$(sort "$root$spool/SITE1.TXT" | uniq -d)" ] || fail "a record was written twice"
! grep -q '^<7>' "$scratch/run.log" || fail "the unit's run logs record lines"
grep -q '^<6>' "$scratch/run.log" || fail "the unit's run logs without priorities"

# ---- what the shipped set-up lets the reader and monitoring do --------------------------------
status=0
as_member_of remoteccm-monitor remoteccm-cli --home $home --status SITE1 --nagios >"$scratch/check" || status=$?
[ "$status" -eq 0 ] || fail "monitoring's check: $status $(cat "$scratch/check")"
for secret in $home/SITE1.CCM $home/cdr.db $spool/SITE1.TXT; do
  ! as_member_of remoteccm-monitor cat "$secret" >/dev/null 2>&1 || fail "monitoring can read $secret"
done
as_member_of remoteccm /usr/share/remoteccm/take-destination $spool/SITE1.TXT $spool/taken ||
  fail "the reader could not take the destination"
[ "$(as_member_of remoteccm cat $spool/taken | wc -l)" -eq 250 ] || fail "the reader cannot read what it took"
say "the reader took the destination; monitoring reads the status, not the records"

# ---- remove, reinstall, purge -------------------------------------------------------------------
dpkg_root -r remoteccm-gui remoteccm-gen-cdr remoteccm
[ ! -e "$root/usr/bin/remoteccm-cli" ] || fail "the program stayed"
[ -f "$root$home/SITE1.CCM" ] && [ -f "$root$spool/taken" ] || fail "the remove took the collection"
[ "$(state_of_timer)" != enabled ] || fail "the remove left the timer enabled"
dpkg_root -i "${new_packages[@]}"
[ "$(state_of_timer)" = enabled ] || fail "the reinstall did not enable the timer again"
dpkg_root --purge remoteccm-gui remoteccm-gen-cdr remoteccm
[ -f "$root$home/SITE1.CCM" ] && [ -f "$root$spool/taken" ] || fail "the purge took the collection"
in_root id remoteccm >/dev/null || fail "the purge removed the user"
say "an upgrade from $(dpkg-deb --field "$old_package" Version) keeps profiles, state, records and" \
  "timers; a remove and a reinstall keep the timers; a purge leaves the collection"
