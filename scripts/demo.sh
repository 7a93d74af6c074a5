#!/usr/bin/env bash
# Sets up a demonstration installation in ./demo and runs the job on it, then shows the log.
# The installation's databases are SQLite, reached through unixODBC (DBType 2), with dates
# relative to today so that the purges have something to take.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build scourex >/dev/null

site=$PWD/demo
rm -rf "$site"
mkdir -p "$site"
cp build/src/scourex "$site/"
: > "$site/Orvanta.nam"
printf '[Orvanta]\r\nDBType=2\r\nSQL_Connect=Driver=SQLite3;Database=%s\r\nVisitorMonths=6\r\nEventMonths=3\r\n' \
  "$site/Orvanta.db" > "$site/Orvanta.ini"
printf '; the program'"'"'s own options\r\nLogFile=Scourex.log\r\n' > "$site/scourex.ini"

sqlite3 "$site/Orvanta.db" <<'SQL'
CREATE TABLE CRDHLD (ID INTEGER PRIMARY KEY, type INTEGER, Valid INTEGER, From_Date TEXT, Loc_Date TEXT,
                     LastName TEXT, FirstName TEXT);
CREATE TABLE CARD (CardID INTEGER PRIMARY KEY, Owner INTEGER, CardNumber TEXT UNIQUE);
CREATE TABLE Join_EmpAG (Emp_ID INTEGER, AG_ID INTEGER);
CREATE TABLE Join_EmpAuthLift (Emp_ID INTEGER, Lift_ID INTEGER);
CREATE TABLE Join_EmpZoneID (Emp_ID INTEGER, Zone_ID INTEGER);
CREATE TABLE Exception (EmpID INTEGER, Door_ID INTEGER, Allowed INTEGER);
CREATE TABLE ExceptionAG (EmpID INTEGER, AG_ID INTEGER, Start_Date TEXT);
CREATE TABLE Log (ID INTEGER PRIMARY KEY, Date TEXT, EventType INTEGER, CardNumber TEXT, Message TEXT);
CREATE INDEX Log_Date ON Log(Date);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200)
INSERT INTO CRDHLD SELECT i, i % 3, CASE WHEN i % 4 = 0 THEN -1 ELSE 0 END,
  CASE WHEN i % 17 = 0 THEN NULL ELSE datetime('now', 'localtime', '-' || (i * 5) || ' days') END,
  datetime('now', 'localtime', '-' || (i * 3) || ' days'), 'Name' || i, 'First' || i FROM n;
INSERT INTO CARD (Owner, CardNumber) SELECT ID, printf('%08X', ID * 7919) FROM CRDHLD WHERE ID % 5 <> 0;
INSERT INTO Join_EmpAG SELECT ID, 1 FROM CRDHLD;
INSERT INTO Join_EmpAuthLift SELECT ID, 2 FROM CRDHLD WHERE ID % 2 = 0;
INSERT INTO Join_EmpZoneID SELECT ID, 3 FROM CRDHLD WHERE ID % 3 = 0;
INSERT INTO Exception SELECT ID, 4, -1 FROM CRDHLD WHERE ID % 4 = 1;
INSERT INTO ExceptionAG SELECT ID, 5, From_Date FROM CRDHLD WHERE ID % 6 = 1;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 5000)
INSERT INTO Log (Date, EventType, Message)
  SELECT datetime('now', 'localtime', '-' || (i * 3) || ' hours'), 1 + i % 20, 'event ' || i FROM n;
SQL

echo "Demonstration installation: $site"
"$site/scourex" && status=0 || status=$?
echo "scourex exited with status $status; the log:"
cat "$site/Scourex.log"
