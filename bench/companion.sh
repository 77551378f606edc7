#!/usr/bin/env bash
# Measures what the companion link costs a run: one pass of N records (default 1,000,000) from
# SQLite through remoteccm-cli with no companion, with a companion that never reads (a listener
# held stopped), and with the listener printing every line. Prints the median wall time of each.
#   bench/companion.sh [--rows N] [--runs N] [--build DIR]
# (--build: use the programs of that build folder instead of a Release build in build-bench/)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
rows=1000000
runs=3
build=""
while [ $# -gt 0 ]; do
  case "$1" in
    --rows) rows=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    *) echo "companion.sh: unknown argument $1" >&2; exit 64 ;;
  esac
done

work=$root/build-bench
mkdir -p "$work/data" "$work/companion"
if [ -z "$build" ]; then
  build=$work
  cmake -S "$root" -B "$work" -G Ninja -DCMAKE_BUILD_TYPE=Release -DREMOTECCM_BUILD_TESTS=OFF \
    -DREMOTECCM_BUILD_GUI=OFF >/dev/null
  ninja -C "$work" -j2 remoteccm-cli remoteccm-gen-cdr >/dev/null
fi
cli=$build/src/cli/remoteccm-cli
db=$work/data/companion-r$rows.db
if [ ! -f "$db.complete" ]; then
  rm -f "$db"
  "$build/tools/remoteccm-gen-cdr" --sqlite "$db" --rows "$rows" --seed 1 --days 40 >&2
  touch "$db.complete"
fi

home=$work/companion
cat >"$home/BENCH.CCM" <<EOF2
[Options]
DestinationFile=$home/OUT.TXT
ConnectSQLMode=All Records
SQLConnectionString=Provider=MSDASQL;Driver=SQLite3;Database=$db
SQLDatabaseName=CDR
SQLTableName=CallDetailRecord
SQLTimeZoneOption=3
DeleteRecs=N
PollAgain=N
WaitBeforePollingAgain=0
EOF2
socket=$home/companion.sock

one_run() {  # prints the wall seconds of one run
  rm -f "$home/OUT.TXT"
  local start end
  start=$(date +%s.%N)
  REMOTECCM_HOME=$home REMOTECCM_REGISTRY=$home/install.ini "$cli" BENCH >/dev/null
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f\n", b - a }'
}
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

listener=""
start_listener() {  # stop|read
  rm -f "$socket"
  "$cli" --companion-listen "$socket" >/dev/null 2>&1 &
  listener=$!
  while [ ! -S "$socket" ]; do sleep 0.05; done
  if [ "$1" = stop ]; then kill -STOP "$listener"; fi
}
stop_listener() {
  kill -CONT "$listener" 2>/dev/null || true
  kill -TERM "$listener"
  wait "$listener" || true
}

printf '%-34s %s\n' "companion ($rows records, $runs runs)" "median wall seconds"
unset REMOTECCM_COMPANION XDG_RUNTIME_DIR
none=$(for _ in $(seq "$runs"); do one_run; done | median)
printf '%-34s %s\n' "none" "$none"
export REMOTECCM_COMPANION=$socket
start_listener stop
never=$(for _ in $(seq "$runs"); do one_run; done | median)
stop_listener
printf '%-34s %s\n' "never reads (listener stopped)" "$never"
start_listener read
reading=$(for _ in $(seq "$runs"); do one_run; done | median)
stop_listener
printf '%-34s %s\n' "reads every line (the listener)" "$reading"
