#!/usr/bin/env bash
# Fails when a test of the last ctest run in build folder $1 skipped for a reason other than
# who runs the suite (tests/support/machine.h): a missing fixture, program or driver is a
# failure on every machine, never a skip.
set -euo pipefail
log="$1/Testing/Temporary/LastTest.log"
[ -f "$log" ] || { echo "check-skips: no test log at $log" >&2; exit 1; }
bad=$(grep -A1 -E ': Skipped$' "$log" | grep -vE ': Skipped$|^--$' |
      grep -vE '^Runs only as (root|a user other than root): ' || true)
count=$(grep -cE ': Skipped$' "$log" || true)
echo "check-skips: $count test(s) skipped, each for who runs the suite"
if [ -n "$bad" ]; then
  echo "check-skips: tests skipped for a reason that does not hold on every machine:" >&2
  echo "$bad" >&2
  exit 1
fi
