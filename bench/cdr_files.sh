#!/usr/bin/env bash
# CDR files of a busy cluster in a current release's layout (133 fields, no line feed after the
# last record): N records in F files (default 1,000,000 in 1,440: one file a minute for a day).
# Each round, interleaved, measures
#   - the import alone (remoteccm-cli --check) of a profile with CdrFileFolder,
#   - the run after it (All Records, DeleteRecs=Y): the transfer out of the embedded database,
#   - the same transfer from a plain database table holding the same rows (a copy of the
#     embedded database read by a profile without a folder),
#   - the sqlite3 shell's .import of the same files into one table without keys,
#   - a plain loader (bench/plain_loader.py: one transaction a file, a unique index on pkid),
# and with --before REF the import and the run of the program as committed at REF, so that a
# change is measured against what it changes on the same busy machine. Prints the median wall
# time and CPU time of the rounds, the peak resident memory and the bytes written to disk
# (write_bytes, from GNU time's file system outputs), and the load of the machine.
#   bench/cdr_files.sh [--rows N] [--files F] [--rounds R] [--before REF] [--build DIR]
# (--build: use the programs of that build folder instead of a Release build in build-bench/)
# With F below 1,440 the files are every (1440/F)th minute of a day of N*1440/F records, so
# that a file holds as many records as in a day of N.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
rows=1000000
files=1440
rounds=3
before_ref=""
build=""
while [ $# -gt 0 ]; do
  case "$1" in
    --rows) rows=$2; shift 2 ;;
    --files) files=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --before) before_ref=$2; shift 2 ;;
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    -h|--help) sed -n 2,19p "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "cdr_files.sh: unknown argument $1" >&2; exit 64 ;;
  esac
done
for n in "$rows" "$files" "$rounds"; do
  if ! [[ "$n" =~ ^[1-9][0-9]{0,8}$ ]]; then
    echo "cdr_files.sh: counts must be whole numbers from 1 to 999999999, not \"$n\"" >&2
    exit 64
  fi
done
if [ "$files" -gt 1440 ]; then
  echo "cdr_files.sh: at most 1440 files (one a minute of a day)" >&2
  exit 64
fi

work=$root/build-bench
mkdir -p "$work/data"
say() { echo "cdr_files: $*" >&2; }
started=$(date +%s)
load_start=$(cut -d' ' -f1-3 /proc/loadavg)

# ---- build ---------------------------------------------------------------------------------
if [ -z "$build" ]; then
  build=$work
  say "building Release into build-bench/"
  if ! { cmake -S "$root" -B "$work" -G Ninja -DCMAKE_BUILD_TYPE=Release \
           -DREMOTECCM_BUILD_TESTS=OFF -DREMOTECCM_BUILD_GUI=OFF &&
         ninja -C "$work" -j2 remoteccm-cli remoteccm-gen-cdr; } >"$work/build.log" 2>&1; then
    tail -30 "$work/build.log" >&2
    exit 1
  fi
fi
cli=$build/src/cli/remoteccm-cli
before_cli=""
if [ -n "$before_ref" ]; then
  commit=$(git rev-parse --verify "$before_ref^{commit}") || { say "no commit $before_ref"; exit 64; }
  before_src=$work/before-src
  if [ "$(cat "$before_src/.commit" 2>/dev/null)" != "$commit" ]; then
    rm -rf "$before_src"
    mkdir -p "$before_src"
    # Dated now (-m), not by the commit: the build folder keeps the objects of another commit,
    # and an older date would pass a changed file for built.
    git archive "$commit" | tar -x -m -C "$before_src"
    echo "$commit" >"$before_src/.commit"
  fi
  say "building $before_ref (${commit:0:10}) into build-bench/before/"
  if ! { cmake -S "$before_src" -B "$work/before" -G Ninja -DCMAKE_BUILD_TYPE=Release \
           -DREMOTECCM_BUILD_TESTS=OFF -DREMOTECCM_BUILD_GUI=OFF &&
         ninja -C "$work/before" -j2 remoteccm-cli; } >"$work/build-before.log" 2>&1; then
    tail -30 "$work/build-before.log" >&2
    exit 1
  fi
  before_cli=$work/before/src/cli/remoteccm-cli
fi

# ---- data ----------------------------------------------------------------------------------
source_files=$work/data/cdr-files-r15-n$rows-f$files
if [ ! -f "$source_files.complete" ]; then
  day=$work/data/cdr-files-day.tmp
  rm -rf "$source_files" "$day"
  day_rows=$((rows * 1440 / files))
  say "generating a day of $day_rows records, keeping $files files"
  "$build/tools/remoteccm-gen-cdr" --files "$day" --rows "$day_rows" --days 1 --nodes 1 \
    --release 15 --seed 1 >&2
  mkdir -p "$source_files"
  mapfile -t all < <(find "$day" -maxdepth 1 -name 'cdr_*' -printf '%f\n' | sort)
  if [ "$files" -ge 1440 ]; then
    mv "${all[@]/#/$day/}" "$source_files/"
  else
    for ((j = 0; j < files; j++)); do
      mv "$day/${all[$((j * ${#all[@]} / files))]}" "$source_files/"
    done
  fi
  rm -rf "$day"
  touch "$source_files.complete"
fi
file_count=$(find "$source_files" -maxdepth 1 -name 'cdr_*' | wc -l)
# Every line after the two header lines is a record, the last one without a line feed.
records=$(find "$source_files" -maxdepth 1 -name 'cdr_*' -exec awk 'END {print NR - 2 * (ARGC - 1)}' {} + |
  awk '{n += $1} END {print n}')
file_bytes=$(find "$source_files" -maxdepth 1 -name 'cdr_*' -printf '%s\n' |
  awk '{n += $1} END {print n}')

# The sqlite3 shell: the table from the first file's header, then each file without its two
# header lines, one .import a file.
first=$(find "$source_files" -maxdepth 1 -name 'cdr_*' | sort | sed -n 1p)
{
  echo "CREATE TABLE CallDetailRecord ($(head -n 1 "$first" | tr -d '"'));"
  find "$source_files" -maxdepth 1 -name 'cdr_*' | sort |
    while read -r f; do echo ".import --csv --skip 2 $f CallDetailRecord"; done
} >"$work/data/import.sql"

# ---- measuring -----------------------------------------------------------------------------
runs=$work/cdr-files
# The kernel counts a page written when it becomes dirty: a step that writes over pages another
# one left dirty (a copy just made) would count less than it writes. Every step starts clean.
measure() {  # LOG COMMAND...: sets secs, cpu (user + system), kib (peak resident), written
  local log=$1
  shift
  sync
  if ! /usr/bin/time -f '%e %M %O %U %S' -o "$runs/time.out" "$@" >"$log" 2>&1; then
    say "failed: $* (see $log)"
    tail -20 "$log" >&2
    exit 1
  fi
  local blocks user sys
  read -r secs kib blocks user sys < <(tail -n 1 "$runs/time.out")
  cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN {printf "%.2f", u + s}')
  written=$((blocks * 512))
}
expect() {  # WHAT GOT WANTED
  if [ "$2" != "$3" ]; then
    say "$1: $2, not $3"
    exit 1
  fi
}

# A program home whose profile FILES collects the folder, All Records with deletion.
files_home() {  # NAME -> prints the home
  local home=$runs/$1
  rm -rf "$home"
  mkdir -p "$home"
  cp -a "$source_files" "$home/incoming"
  cat >"$home/FILES.CCM" <<EOF
[Options]
DestinationFile=$home/OUT.TXT
ConnectSQLMode=All Records
CdrFileFolder=$home/incoming
CdrFileSettleSeconds=0
CdrFileKeepDays=1
SQLTimeZoneOption=3
DeleteRecs=Y
PollAgain=N
WaitBeforePollingAgain=0
EOF
  echo "$home"
}
# The same profile reading a table of a database file instead.
table_home() {  # NAME DATABASE -> prints the home
  local home=$runs/$1
  rm -rf "$home"
  mkdir -p "$home"
  cat >"$home/FILES.CCM" <<EOF
[Options]
DestinationFile=$home/OUT.TXT
ConnectSQLMode=All Records
SQLConnectionString=Provider=MSDASQL;Driver=SQLite3;Database=$2
SQLTableName=CallDetailRecord
SQLTimeZoneOption=3
DeleteRecs=Y
PollAgain=N
WaitBeforePollingAgain=0
EOF
  echo "$home"
}

programs=("$cli")
names=("")
if [ -n "$before_cli" ]; then
  programs+=("$before_cli")
  names+=("before: ")
fi
labels=()
for ((p = 0; p < ${#programs[@]}; p++)); do
  labels+=("${names[$p]}remoteccm-cli --check (the import)" "${names[$p]}remoteccm-cli run after it")
done
labels+=("remoteccm-cli, the same rows in a table" "sqlite3 .import, one table, no keys"
  "plain loader: a transaction a file, pkid unique")
declare -A times cpus written_bytes peaks

note() {  # INDEX: keeps secs, cpu, written and kib of a step
  times[$1]="${times[$1]:-} $secs"
  cpus[$1]="${cpus[$1]:-} $cpu"
  written_bytes[$1]="${written_bytes[$1]:-} $written"
  peaks[$1]=$(( ${peaks[$1]:-0} > kib ? ${peaks[$1]:-0} : kib ))
}

mkdir -p "$runs"
for ((round = 1; round <= rounds; round++)); do
  say "round $round of $rounds (load $(cut -d' ' -f1-3 /proc/loadavg))"
  for ((p = 0; p < ${#programs[@]}; p++)); do
    home=$(files_home "files-$p")
    run_env=(env REMOTECCM_HOME="$home" REMOTECCM_REGISTRY="$home/install.ini")
    measure "$home/check.log" "${run_env[@]}" "${programs[$p]}" --check FILES
    note $((2 * p))
    expect "imported records" "$(sqlite3 "$home/FILES.cdr.sqlite" \
      "SELECT COUNT(*) FROM CallDetailRecord")" "$records"
    if [ "$p" -eq 0 ]; then
      # The same rows as a plain table: the embedded database as the import left it.
      cp "$home/FILES.cdr.sqlite" "$runs/table.db"
      [ ! -f "$home/FILES.cdr.sqlite-wal" ] || cp "$home/FILES.cdr.sqlite-wal" "$runs/table.db-wal"
    fi
    measure "$home/run.log" "${run_env[@]}" "${programs[$p]}" FILES
    note $((2 * p + 1))
    expect "lines written" "$(wc -l <"$home/OUT.TXT")" "$records"
    expect "records left" "$(sqlite3 "$home/FILES.cdr.sqlite" \
      "SELECT COUNT(*) FROM CallDetailRecord")" 0
    rm -rf "$home"
  done
  base=$((2 * ${#programs[@]}))
  home=$(table_home table "$runs/table.db")
  measure "$home/run.log" env REMOTECCM_HOME="$home" REMOTECCM_REGISTRY="$home/install.ini" \
    "$cli" FILES
  note "$base"
  expect "lines written from the table" "$(wc -l <"$home/OUT.TXT")" "$records"
  rm -rf "$home" "$runs/table.db"*
  rm -f "$runs/sqlite3.db"
  measure "$runs/sqlite3.log" sqlite3 "$runs/sqlite3.db" ".read $work/data/import.sql"
  note $((base + 1))
  expect "sqlite3 .import rows" "$(sqlite3 "$runs/sqlite3.db" \
    "SELECT COUNT(*) FROM CallDetailRecord")" "$records"
  rm -f "$runs/loader.db"
  measure "$runs/loader.log" /usr/bin/python3 "$root/bench/plain_loader.py" "$runs/loader.db" \
    "$source_files"
  note $((base + 2))
  expect "plain loader rows" "$(sqlite3 "$runs/loader.db" \
    "SELECT COUNT(*) FROM CallDetailRecord")" "$records"
  rm -f "$runs/sqlite3.db" "$runs/loader.db"
done

median() { tr ' ' '\n' | sed '/^$/d' | sort -g | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }

echo
echo "CDR files: $records records in $file_count files of the release 15 layout," \
  "$(awk -v b="$file_bytes" 'BEGIN {printf "%.1f MB", b / 1e6}'); median of $rounds" \
  "interleaved rounds. load average at the start $load_start, at the end" \
  "$(cut -d' ' -f1-3 /proc/loadavg). \"before:\" is the program at ${before_ref:-(none)}."
echo
printf '%-50s %9s %7s %9s %11s %8s %10s\n' step "median s" "cpu s" "peak MiB" "written MB" \
  "x files" "vs .import"
import_s=$(echo "${times[$((base + 1))]}" | median)
for ((i = 0; i < ${#labels[@]}; i++)); do
  s=$(echo "${times[$i]}" | median)
  c=$(echo "${cpus[$i]}" | median)
  w=$(echo "${written_bytes[$i]}" | median)
  awk -v l="${labels[$i]}" -v s="$s" -v c="$c" -v k="${peaks[$i]}" -v w="$w" \
    -v b="$file_bytes" -v q="$import_s" 'BEGIN {
      printf "%-50s %9.2f %7.2f %9.1f %11.1f %8.2f %10.2f\n", l, s, c, k / 1024, w / 1e6,
        w / b, (s > 0) ? q / s : 0
    }'
done
echo "(\"vs .import\": the speed relative to sqlite3 .import; above 1 is faster.)"
say "done in $(($(date +%s) - started)) s"
