#!/usr/bin/env bash
# Runs killed at random moments while another process inserts records, on both drivers, in
# every retrieval mode that promises exactly once, with deletion on and (where the mode allows
# it) off, under a busy inserter (a record every 10 ms) and an idle-heavy one (every 2 s, so
# most polls find nothing). After the kills the inserter stops and one last run collects to the
# end. Each record is then counted: lost (neither in the destination nor, with deletion, in the
# table), twice (more than once in the destination), or written and left (with deletion: in the
# destination and still in the table).
#   bench/random_kills.sh [KILLS]     (default 30 per case; needs a build in build/)
set -euo pipefail
cd "$(dirname "$0")/.."
kills=${1:-30}
cli=$PWD/build/src/cli/remoteccm-cli
work=$(mktemp -d /tmp/remoteccm-kills-XXXXXX)
# A server of its own, so that one the tests use is left alone.
trap 'kill $(jobs -p) 2>/dev/null || true; scripts/stop-test-postgres "$work/pg" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
pg=$(scripts/start-test-postgres "$work/pg")
eval "$(sed -n 's/^\(port\|role\|password\)=/\1=/p' "$work/pg/connection")"
export PGPASSWORD=$password

sql() {  # driver statement
  if [ "$1" = sqlite ]; then
    sqlite3 -cmd ".timeout 10000" "$work/cdr.db" "$2"
  else
    psql -X -q -At -h 127.0.0.1 -p "$port" -U "$role" -d CDR -c "$2"
  fi
}

# The statements of the inserter, one a line, until $work/stop appears: records numbered from 1,
# one in four late (its time up to half an hour before now), the others a little before now. The
# last number goes to $work/last.
produce() {  # pause
  local id=0 end
  while [ ! -e "$work/stop" ]; do
    id=$((id + 1))
    end=$((EPOCHSECONDS - 90))
    [ $((RANDOM % 4)) -ne 0 ] || end=$((end - RANDOM % 1800))
    printf "INSERT INTO CallDetailRecord (pkid, dateTimeOrigination, dateTimeDisconnect, callingPartyNumber, duration) VALUES ('%s', %s, %s, '2001', 60);\n" \
      "$id" $((end - 60)) "$end"
    echo "$id" > "$work/last"
    sleep "$1"
  done
}

# One client of the database takes every statement, each committed on its own (a run that holds
# the table makes it wait).
client() {  # driver
  if [ "$1" = sqlite ]; then
    sqlite3 -cmd ".timeout 60000" "$work/cdr.db" >/dev/null
  else
    psql -X -q -h 127.0.0.1 -p "$port" -U "$role" -d CDR >/dev/null
  fi
}

printf '%-8s %-17s %-8s %-5s %5s %7s %6s %6s %6s %6s\n' driver mode deletion load kills records \
  lost twice left written
for driver in sqlite postgres; do
  for mode in "New Records Only" "All Records" "By Date" "By SQL Query"; do
    for deletion in Y N; do
      # Without deletion, these modes collect their whole range on every run, by design.
      [ "$deletion" = Y ] || [ "$mode" = "New Records Only" ] || continue
      for load in busy idle; do
        pause=0.01
        [ "$load" = busy ] || pause=2
        rm -rf "$work/home" "$work/cdr.db" "$work/stop" "$work/last" "$work"/CDR.TXT*
        mkdir -p "$work/home"
        if [ "$driver" = sqlite ]; then
          : > "$work/cdr.db"
          conn="Provider=MSDASQL;Driver=SQLite3;Database=$work/cdr.db"
        else
          conn=$pg
        fi
        sql "$driver" "DROP TABLE IF EXISTS CallDetailRecord" >/dev/null 2>&1
        sql "$driver" "CREATE TABLE CallDetailRecord (pkid VARCHAR(50), dateTimeOrigination INTEGER, dateTimeDisconnect INTEGER, callingPartyNumber VARCHAR(50), duration INTEGER)" >/dev/null
        today=$(date -u -d "$(date -u +%F)" +%s)
        {
          printf '[Options]\r\nDestinationFile=%s\r\nSQLConnectionString=%s\r\n' "$work/CDR.TXT" "$conn"
          printf 'ConnectSQLMode=%s\r\nDeleteRecs=%s\r\nSQLTimeZoneOption=3\r\n' "$mode" "$deletion"
          printf 'PollAgain=Y\r\nWaitBeforePollingAgain=0\r\nLateArrivalMinutes=60\r\n'
          printf 'SQLNewRecDate=%s\r\nSQLNewRecIncrValue=10\r\nSQLNewRecIncrMode=minute(s)\r\n' "$(($(date +%s) - 86400))"
          printf 'SQLFromDateRange=%s\r\nSQLToDateRange=%s\r\n' "$((today - 86400))" "$today"
          printf 'SQLDateRangeIncrValue=1\r\nSQLDateRangeIncrMode=hour(s)\r\n'
          printf 'ConnectSQL0=SELECT * FROM CallDetailRecord\r\nConnectSQL1=<end>\r\n'
          printf 'DisconnectSQL0=DELETE FROM CallDetailRecord\r\nDisconnectSQL1=<end>\r\n'
        } > "$work/home/SITE.CCM"
        printf '[CCM_FIELDS]\r\nCSV=Y\r\n' > "$work/home/CCM_FIELDS.INF"
        export REMOTECCM_HOME="$work/home" REMOTECCM_REGISTRY="$work/home/install.ini"
        produce "$pause" | client "$driver" & writer=$!
        sleep 1
        for ((k = 0; k < kills; k++)); do
          (timeout -s KILL "0.$((RANDOM % 9 + 1))" "$cli" SITE >/dev/null 2>&1 || true) 2>/dev/null
        done
        touch "$work/stop"
        wait "$writer"
        # The last run: "By SQL Query" with polling on goes on while passes find records.
        "$cli" SITE > "$work/last.log" 2>&1 || { echo "the last run failed:"; tail -5 "$work/last.log"; }
        last=$(cat "$work/last")
        key=$("$cli" --columns SITE | grep -n -i '^pkid' | cut -d: -f1)
        cut -d, -f"$key" "$work/CDR.TXT" 2>/dev/null | sort > "$work/written" || true
        sql "$driver" "SELECT pkid FROM CallDetailRecord" | sort > "$work/left"
        twice=$(uniq -d "$work/written" | wc -l)
        both=$(sort -u "$work/written" | comm -12 - "$work/left" | wc -l)
        seen=$(sort -u "$work/written" "$work/left" | wc -l)
        lost=$((last - seen))
        [ "$deletion" = Y ] || lost=$((last - $(sort -u "$work/written" | wc -l)))
        printf '%-8s %-17s %-8s %-5s %5s %7s %6s %6s %6s %6s\n' "$driver" "$mode" \
          "$([ "$deletion" = Y ] && echo on || echo off)" "$load" "$kills" "$last" "$lost" \
          "$twice" "$([ "$deletion" = Y ] && echo "$both" || echo -)" "$(wc -l < "$work/written")"
      done
    done
  done
done
