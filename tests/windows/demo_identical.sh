#!/usr/bin/env bash
# The demo profile run by the Linux remoteccm-cli and by remoteccm-cli.exe under Wine, each on
# a CDR database its own remoteccm-gen-cdr made with the same seed: the two destination files
# must be byte for byte the same, and so must the two exit statuses. The Windows program reaches
# the host's SQLite ODBC driver through Wine's odbc32, so its database path is the Unix one.
#   demo_identical.sh LINUX_BUILD_DIR WINDOWS_BUILD_DIR SCRATCH
set -euo pipefail
linux=$1 windows=$2 scratch=$3
rm -rf "$scratch"
mkdir -p "$scratch/linux/out" "$scratch/windows/out"

# The demo profile (scripts/demo) at a fixed start, in a zone both builds know by its Windows
# name. $1 the home, $2 the destination as the program spells it, $3 the database path.
write_profile() {
  {
    printf '[Options]\r\n'
    printf 'DestinationFile=%s\r\n' "$2"
    printf 'ConnectSQLMode=New Records Only\r\n'
    printf 'SQLNewRecIncrValue=1\r\n'
    printf 'SQLNewRecIncrMode=day(s)\r\n'
    printf 'SQLConnectionString=Provider=MSDASQL;Driver=SQLite3;Database=%s\r\n' "$3"
    printf 'SQLTimeZoneOption=2\r\n'
    printf 'SQLTimeZoneName=(UTC-05:00) Eastern Time (US & Canada)\r\n'
    printf 'DeleteRecs=N\r\n'
    printf 'PollAgain=Y\r\n'
    printf 'WaitBeforePollingAgain=0\r\n'
    printf 'SQLNewRecDate=%s\r\n' "$(date -u -d 2026-11-01 +%s)"
  } >"$1/DEMO.CCM"
  printf '[CCM_FIELDS]\r\ncdrRecordType=1\r\ndateTimeOrigination=22\r\ncallingPartyNumber=22\r\noriginalCalledPartyNumber=24\r\nduration=8\r\nclientMatterCode=16\r\n' \
    >"$1/CCM_FIELDS.INF"
}

generate=(--calls 1500 --from 2026-11-01 --days 3 --seed 42)
"$linux/tools/remoteccm-gen-cdr" --sqlite "$scratch/linux/cdr.db" "${generate[@]}" >/dev/null
wine "$windows/tools/remoteccm-gen-cdr.exe" --sqlite "$(winepath -w "$scratch/windows")\\cdr.db" \
  "${generate[@]}" >/dev/null
# The files differ in SQLite's page layout; their contents must not.
cmp -s <(sqlite3 "$scratch/linux/cdr.db" .dump) <(sqlite3 "$scratch/windows/cdr.db" .dump) || {
  echo "FAILED: the two generators made different databases"; exit 1; }

write_profile "$scratch/linux" "$scratch/linux/out/CDR.TXT" "$scratch/linux/cdr.db"
write_profile "$scratch/windows" "$(winepath -w "$scratch/windows/out")\\CDR.TXT" \
  "$scratch/windows/cdr.db"

linux_status=0
REMOTECCM_REGISTRY="$scratch/linux/install.ini" \
  "$linux/src/cli/remoteccm-cli" --home "$scratch/linux" DEMO >"$scratch/linux.log" || linux_status=$?
windows_status=0
REMOTECCM_REGISTRY="$(winepath -w "$scratch/windows")\\install.ini" \
  wine "$windows/src/cli/remoteccm-cli.exe" --home "$(winepath -w "$scratch/windows")" DEMO \
  >"$scratch/windows.log" || windows_status=$?

echo "Linux: exit status $linux_status, $(wc -l <"$scratch/linux/out/CDR.TXT") lines;" \
  "Windows: exit status $windows_status, $(wc -l <"$scratch/windows/out/CDR.TXT" 2>/dev/null || echo 0) lines"
[ "$linux_status" -eq 0 ] && [ "$windows_status" -eq 0 ] || {
  echo "FAILED: the runs did not both succeed"; tail -n 5 "$scratch/linux.log" "$scratch/windows.log"; exit 1; }
cmp "$scratch/linux/out/CDR.TXT" "$scratch/windows/out/CDR.TXT" || {
  echo "FAILED: the destination files differ"; diff <(tr -d '\r' <"$scratch/linux/out/CDR.TXT") \
    <(tr -d '\r' <"$scratch/windows/out/CDR.TXT") | head; exit 1; }
start_of() { tr -d '\r' <"$1/DEMO.CCM" | grep '^SQLNewRecDate='; }
[ "$(start_of "$scratch/linux")" = "$(start_of "$scratch/windows")" ] || {
  echo "FAILED: the profiles' new start points differ"; exit 1; }
echo "The destination files are byte-identical, and so are the new start points."
