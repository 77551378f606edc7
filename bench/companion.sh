#!/usr/bin/env bash
# Measures the companion link under a run of N records (default 1,000,000) from SQLite: the wall
# time of remoteccm-cli with no companion, with one that never reads (a listener held stopped)
# and with the listener reading every line; then, for both programs (remoteccm-cli and the
# desktop program's unattended run, off screen), how many of the run's log lines the listener
# printed against how many the run logged, and what the run said it missed.
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
    -DREMOTECCM_BUILD_GUI=ON \
    >/dev/null
  ninja -C "$work" -j2 remoteccm-cli remoteccm remoteccm-gen-cdr >/dev/null
fi
cli=$build/src/cli/remoteccm-cli
gui=$build/src/gui/remoteccm
db=$work/data/companion-r$rows.db
if [ ! -f "$db.complete" ]; then
  rm -f "$db"
  "$build/tools/remoteccm-gen-cdr" --sqlite "$db" --rows "$rows" --seed 1 --days 40 >&2
  touch "$db.complete"
fi

home=$work/companion
chmod 700 "$home"  # the link uses only a socket in a folder of its user's alone
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
run_env=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM REMOTECCM_HOME="$home"
         REMOTECCM_REGISTRY="$home/install.ini")

one_run() {  # PROGRAM LOG: prints the wall seconds of one run; its standard output goes to LOG
  rm -f "$home/OUT.TXT"
  local start end
  start=$(date +%s.%N)
  "${run_env[@]}" "$1" BENCH >"$2" 2>>"$home/errors.log"
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f\n", b - a }'
}
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

listener=""
start_listener() {  # stop|read OUTPUT
  rm -f "$socket"
  "$cli" --companion-listen "$socket" >"$2" 2>/dev/null &
  listener=$!
  while [ ! -S "$socket" ]; do sleep 0.05; done
  if [ "$1" = stop ]; then kill -STOP "$listener"; fi
}
stop_listener() {
  kill -CONT "$listener" 2>/dev/null || true
  kill -TERM "$listener"
  wait "$listener" || true
}
lines() { grep -c . "$1" || true; }  # the non-empty lines of a file
missed() { grep -o 'The companion missed [0-9]*' "$1" | grep -o '[0-9]*$' || echo 0; }

printf '%-34s %s\n' "companion ($rows records, $runs runs)" "median wall seconds"
unset REMOTECCM_COMPANION XDG_RUNTIME_DIR
none=$(for _ in $(seq "$runs"); do one_run "$cli" /dev/null; done | median)
printf '%-34s %s\n' "none" "$none"
export REMOTECCM_COMPANION=$socket
start_listener stop /dev/null
never=$(for _ in $(seq "$runs"); do one_run "$cli" "$home/never.log"; done | median)
stop_listener
printf '%-34s %s   (missed %s lines)\n' "never reads (listener stopped)" "$never" \
  "$(missed "$home/never.log")"
start_listener read /dev/null
reading=$(for _ in $(seq "$runs"); do one_run "$cli" /dev/null; done | median)
stop_listener
printf '%-34s %s\n' "reads every line (the listener)" "$reading"

# Every line, from both programs: the listener's output against the run's own log (the desktop
# program logs what remoteccm-cli logs for the same run).
echo
printf '%-34s %12s %12s %8s %s\n' "program" "logged" "delivered" "missed" "seconds"
start_listener read "$home/heard-cli.txt"
seconds=$(one_run "$cli" "$home/cli.log")
stop_listener
logged=$(( $(lines "$home/cli.log") - $(grep -c '^The companion missed' "$home/cli.log" || true) ))
printf '%-34s %12s %12s %8s %s\n' "remoteccm-cli" "$logged" "$(lines "$home/heard-cli.txt")" \
  "$(missed "$home/cli.log")" "$seconds"
if [ -x "$gui" ]; then
  start_listener read "$home/heard-gui.txt"
  seconds=$(one_run "$gui" /dev/null)
  stop_listener
  printf '%-34s %12s %12s %8s %s\n' "remoteccm (unattended)" "$logged" \
    "$(lines "$home/heard-gui.txt")" "-" "$seconds"
  if cmp -s "$home/heard-cli.txt" "$home/heard-gui.txt"; then
    echo "the desktop program's lines are remoteccm-cli's, byte for byte"
  else
    echo "the desktop program's lines differ from remoteccm-cli's"
  fi
fi
