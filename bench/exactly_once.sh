#!/usr/bin/env bash
# Overlapping runs on one destination, measured on both drivers: one profile started twice
# 0.7 s apart, and two profiles that share a destination, on ROWS records (default 150000)
# with "All Records" and deletion on. Prints, per case, the exit statuses and whether every
# record ended up exactly once: in the destination or still in the table, never both.
#   bench/exactly_once.sh [ROWS]      (needs a build in build/ and scripts/start-test-postgres)
set -euo pipefail
cd "$(dirname "$0")/.."
rows=${1:-150000}
cli=build/src/cli/remoteccm-cli
gen=build/tools/remoteccm-gen-cdr
work=$(mktemp -d /tmp/remoteccm-once-XXXXXX)
trap 'rm -rf "$work"' EXIT
pg=$(scripts/start-test-postgres build/pg)

count_table() {  # driver
  if [ "$1" = sqlite ]; then
    sqlite3 "$work/cdr.db" "SELECT COUNT(*) FROM CallDetailRecord"
  else
    eval "$(sed -n 's/^\(port\|role\|password\)=/\1=/p' build/pg/connection)"
    PGPASSWORD=$password psql -X -At -h 127.0.0.1 -p "$port" -U "$role" -d CDR \
      -c 'SELECT COUNT(*) FROM CallDetailRecord'
  fi
}

profile() {  # name destination connection
  printf '[Options]\r\nDestinationFile=%s\r\nSQLConnectionString=%s\r\nConnectSQLMode=All Records\r\nDeleteRecs=Y\r\nSQLTimeZoneOption=3\r\n' \
    "$2" "$3" > "$work/home/$1.CCM"
}

for driver in sqlite postgres; do
  for case in "one profile twice" "two profiles, one destination"; do
    rm -rf "$work/home" "$work/cdr.db"
    mkdir -p "$work/home"
    if [ "$driver" = sqlite ]; then
      "$gen" --sqlite "$work/cdr.db" --rows "$rows" --seed 7 >/dev/null
      conn="Provider=MSDASQL;Driver=SQLite3;Database=$work/cdr.db"
    else
      "$gen" --postgres "$pg" --rows "$rows" --seed 7 >/dev/null
      conn=$pg
    fi
    profile A "$work/CDR.TXT" "$conn"
    profile B "$work/CDR.TXT" "$conn"
    second=A
    [ "$case" = "one profile twice" ] || second=B
    printf '[CCM_FIELDS]\r\nCSV=Y\r\n' > "$work/home/CCM_FIELDS.INF"
    rm -f "$work/CDR.TXT"
    export REMOTECCM_HOME="$work/home" REMOTECCM_REGISTRY="$work/home/install.ini"
    "$cli" A > "$work/a.log" & first=$!
    sleep 0.7
    s2=0; "$cli" "$second" > "$work/b.log" || s2=$?
    s1=0; wait "$first" || s1=$?
    written=$(wc -l < "$work/CDR.TXT")
    key=$("$cli" --columns A | grep -n -i '^pkid' | cut -d: -f1)
    distinct=$(cut -d, -f"$key" "$work/CDR.TXT" | sort -u | wc -l)
    left=$(count_table "$driver")
    verdict="exactly once"
    if [ $((written + left)) -ne "$rows" ] || [ "$distinct" -ne "$written" ]; then verdict="NOT exactly once"; fi
    printf '%-9s %-30s first run %s, second run %s (%s), %s lines (%s distinct), %s left in the table: %s\n' \
      "$driver" "$case" "$s1" "$s2" "$(tail -n 1 "$work/b.log")" "$written" "$distinct" "$left" "$verdict"
  done
done
scripts/stop-test-postgres build/pg >/dev/null 2>&1 || true
