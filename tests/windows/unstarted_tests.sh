#!/usr/bin/env bash
# Reads ctest's LastTest.log of the Windows lane and prints, as one ctest -R expression, the
# failed tests whose program wrote nothing at all (Wine never started it: not even the first
# line of Google Test's output came), and nothing when any failed test did write something:
# only a run in which every failure is one that never started is worth running again.
#   tests/windows/unstarted_tests.sh LASTTEST_LOG
set -euo pipefail
awk '
  / Test: / { name = $0; sub(/^[0-9]+\/[0-9]+ Test: /, "", name); sub(/  # .*$/, "", name) }
  /^Output:$/ { lines = 0; reading = 1; next }
  reading && /^-+$/ { next }
  reading && /^<end of output>$/ { reading = 0; next }
  reading { ++lines }
  /^Test Failed\.$/ { ++failed; if (lines == 0) { ++unstarted; names[unstarted] = name } }
  END {
    if (failed == 0 || unstarted != failed) exit 0
    expression = ""
    for (i = 1; i <= unstarted; ++i) {
      escaped = names[i]
      gsub(/[][.*+?^$(){}|\\]/, "\\\\&", escaped)
      expression = expression (i > 1 ? "|" : "") escaped
    }
    print "^(" expression ")$"
  }' "$1"
