#!/usr/bin/env bash
# Sets up a demonstration installation in ./demo and runs the job on it, then shows the log.
# make-site writes the installation: the marker, Orvanta.ini (Jet files, visitors older than
# 6 months, events older than 3), the password-protected main database Orvanta.mdb and the
# journal Journal.mdb, filled with synthetic data dated up to today.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build scourex make-site jetsql >/dev/null

site=$PWD/demo
rm -rf "$site"
build/tools/make-site "$site" --seed 1 --size 2000 --events 50000 --ri
cp build/src/scourex "$site/"
printf '; the program'"'"'s own options: none beyond the product'"'"'s\r\n' > "$site/scourex.ini"

count() { build/tools/jetsql "$1" ${3:+-p "$3"} -c "SELECT COUNT(*) FROM [$2]" | tail -n 1; }
echo "Demonstration installation: $site"
echo "before: $(count "$site/Orvanta.mdb" CRDHLD Morvek3) cardholders, $(count "$site/Orvanta.mdb" CARD Morvek3) badges, $(count "$site/Journal.mdb" Log) events"
"$site/scourex" 2>/dev/null && status=0 || status=$?
echo "after:  $(count "$site/Orvanta.mdb" CRDHLD Morvek3) cardholders, $(count "$site/Orvanta.mdb" CARD Morvek3) badges, $(count "$site/Journal.mdb" Log) events"
echo "scourex exited with status $status; the log ($site/Scourex.log):"
cat "$site/Scourex.log"
