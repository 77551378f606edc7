#!/usr/bin/env bash
# A day of a busy cluster as CDR files: N records (default 1,000,000) in one file per minute
# (1,440 files), collected by a profile with CdrFileFolder. Measures the import alone
# (remoteccm-cli --check), the transfer of the imported records (a run, All Records; with
# --delete the records also leave the embedded database), and the peak memory of each; beside
# it, loading the same files into SQLite with the sqlite3 shell's .import. Prints one table.
#   bench/cdr_files.sh [--rows N] [--delete] [--build DIR]
# (--build: use the programs of that build folder instead of a Release build in build-bench/)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
rows=1000000
delete=N
build=""
while [ $# -gt 0 ]; do
  case "$1" in
    --rows) rows=$2; shift 2 ;;
    --delete) delete=Y; shift ;;
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    *) echo "cdr_files.sh: unknown argument $1" >&2; exit 64 ;;
  esac
done

work=$root/build-bench
if [ -z "$build" ]; then
  build=$work
  cmake -S "$root" -B "$work" -G Ninja -DCMAKE_BUILD_TYPE=Release -DREMOTECCM_BUILD_TESTS=OFF \
    -DREMOTECCM_BUILD_GUI=OFF >/dev/null
  ninja -C "$work" -j2 remoteccm-cli remoteccm-gen-cdr >/dev/null
fi
cli=$build/src/cli/remoteccm-cli
source_files=$work/data/cdr-files-r$rows
if [ ! -f "$source_files.complete" ]; then
  rm -rf "$source_files"
  "$build/tools/remoteccm-gen-cdr" --files "$source_files" --rows "$rows" --days 1 --nodes 1 \
    --release 12 --seed 1 >&2
  touch "$source_files.complete"
fi
files=$(find "$source_files" -maxdepth 1 -name 'cdr_*' | wc -l)

home=$work/cdr-files
rm -rf "$home"
mkdir -p "$home"
cp -a "$source_files" "$home/incoming"
cat >"$home/FILES.CCM" <<EOF2
[Options]
DestinationFile=$home/OUT.TXT
ConnectSQLMode=All Records
CdrFileFolder=$home/incoming
CdrFileKeepDays=1
SQLTimeZoneOption=3
DeleteRecs=$delete
PollAgain=N
WaitBeforePollingAgain=0
EOF2
run_env=(env REMOTECCM_HOME="$home" REMOTECCM_REGISTRY="$home/install.ini")

measure() {  # LOG COMMAND...: prints "seconds peak-KiB"; the command's output goes to LOG
  local log=$1
  shift
  local start end
  start=$(date +%s.%N)
  /usr/bin/time -f '%M' -o "$home/time.out" "$@" >"$log" 2>&1
  end=$(date +%s.%N)
  echo "$(echo "$end - $start" | bc) $(tail -n 1 "$home/time.out")"
}

read -r import_s import_kib < <(measure "$home/check.log" "${run_env[@]}" "$cli" --check FILES)
read -r run_s run_kib < <(measure "$home/run.log" "${run_env[@]}" "$cli" FILES)
imported=$(sqlite3 "$home/FILES.cdr.sqlite" "SELECT COUNT(*) FROM CdrFileRecordKey")
lines=$(wc -l <"$home/OUT.TXT")
left=$(sqlite3 "$home/FILES.cdr.sqlite" "SELECT COUNT(*) FROM CallDetailRecord")

# The sqlite3 shell: the table from the first file's header, then each file without its two
# header lines, one .import a file.
plain=$home/sqlite3-import.db
first=$(find "$source_files" -maxdepth 1 -name 'cdr_*' | sort | sed -n 1p)
columns=$(head -n 1 "$first" | tr -d '"')
{
  echo "CREATE TABLE CallDetailRecord ($columns);"
  find "$source_files" -maxdepth 1 -name 'cdr_*' | sort |
    while read -r f; do echo ".import --csv --skip 2 $f CallDetailRecord"; done
} >"$home/import.sql"
read -r shell_s shell_kib < <(measure "$home/sqlite3.log" sqlite3 "$plain" ".read $home/import.sql")
shell_rows=$(sqlite3 "$plain" "SELECT COUNT(*) FROM CallDetailRecord")

echo
echo "CDR files: $rows records in $files files"
printf '%-46s %10s %12s %12s\n' "step" "seconds" "peak MiB" "records"
printf '%-46s %10.1f %12.1f %12s\n' "remoteccm-cli --check (import, exactly once)" "$import_s" \
  "$(echo "$import_kib / 1024" | bc -l)" "$imported"
printf '%-46s %10.1f %12.1f %12s\n' "remoteccm-cli run (transfer, DeleteRecs=$delete)" "$run_s" \
  "$(echo "$run_kib / 1024" | bc -l)" "$lines"
printf '%-46s %10.1f %12.1f %12s\n' "sqlite3 .import (no dedupe, no checks)" "$shell_s" \
  "$(echo "$shell_kib / 1024" | bc -l)" "$shell_rows"
echo "left in the embedded database after the run: $left"
