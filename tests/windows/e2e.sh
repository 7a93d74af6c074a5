#!/usr/bin/env bash
# The Windows programs end to end under Wine, driven from the host: e2e.sh CASE.
# Environment (set by CTest): WINE, WIN_BIN (the Windows build folder), FIXTURES_DIR (the
# Jet fixtures), LINUX_JETSQL (the Linux build's jetsql, for the comparison).
set -euo pipefail
case_name=${1:?case}
: "${WINE:?}" "${WIN_BIN:?}"
# C.UTF-8: Wine takes arguments and file names as UTF-8 and runs as en-US, whose ANSI
# code page is Windows-1252.
export WINEDEBUG=-all LC_ALL=C.UTF-8
scourex_exe=$WIN_BIN/src/scourex.exe
jetsql_exe=$WIN_BIN/tools/jetsql.exe
make_site_exe=$WIN_BIN/tools/make-site.exe
work=$(mktemp -d)
cleanup() {
  touch "$work/stop"
  wait || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL ($case_name): $*" >&2
  [ -n "${site:-}" ] && [ -f "$site/Scourex.log" ] && { echo "log:"; cat -A "$site/Scourex.log"; } >&2
  exit 1
}
win() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }
wine_run() { "$WINE" "$@"; }
jetsql_win() { wine_run "$jetsql_exe" "$@" | tr -d '\r'; }
make_site() {
  mkdir -p "$1"
  wine_run "$make_site_exe" "$(win "$1")" --seed 7 --size 80 --events 400 >/dev/null || fail "make-site.exe failed"
  cp "$scourex_exe" "$1/"
}
count() { jetsql_win "$1" "${@:3}" -c "SELECT COUNT(*) FROM $2" | tail -n 1; }
main_count() { count "$(win "$1/Orvanta.mdb")" CRDHLD -p Morvek3; }
log_count() { count "$(win "$1/Journal.mdb")" "[Log]"; }
# Runs the job from another folder, as the Task Scheduler does; its exit status.
run_job() { (cd / && wine_run "$1/scourex.exe" 2>/dev/null) && echo 0 || echo $?; }
# Starts a helper that prints "held" once it holds what it holds; waits for that.
start_holder() {
  local out=$1
  shift
  wine_run "$@" >"$out" 2>&1 &
  for _ in $(seq 1 300); do
    grep -q held "$out" 2>/dev/null && return 0
    grep -q cannot "$out" 2>/dev/null && fail "holder: $(cat "$out")"
    sleep 0.1
  done
  fail "the holder did not start"
}

case $case_name in
typical)
  # Deep enough that the installation's path is longer than the classic limit.
  site=$work
  for i in $(seq 1 12); do site+="/verschachtelter-Ordner-$i"; done
  site+="/Zentrale"
  make_site "$site"
  [ ${#site} -gt 300 ] || fail "the path is not long: ${#site}"
  cards=$(main_count "$site") events=$(log_count "$site")
  [ "$(run_job "$site")" = 0 ] || fail "the job did not succeed"
  log=$site/Scourex.log
  [ -f "$log" ] || fail "no log in the installation folder"
  mapfile -t lines < <(tr -d '\r' <"$log")
  [ ${#lines[@]} = 7 ] || fail "expected 7 lines, got ${#lines[@]}"
  [[ ${lines[1]} == *"  Start Application Scourex  " ]] || fail "start line: ${lines[1]}"
  [[ ${lines[5]} == *"  Stop Application Scourex  " ]] || fail "stop line: ${lines[5]}"
  [ -z "${lines[6]}" ] || fail "no empty line after the stop line"
  [ "$(grep -c $'\r$' "$log")" = 7 ] || fail "lines do not end in CR LF"
  # The system's general date form, not the ISO form of the POSIX build.
  [[ ${lines[1]} =~ ^[0-9]{1,2}/[0-9]{1,2}/[0-9]{4}\ [0-9]{1,2}:[0-9]{2}:[0-9]{2}\ [AP]M\ \  ]] ||
    fail "timestamp is not the system's general date: ${lines[1]}"
  visitors=$(sed -n 's/.*Total Visitor Deleted \([0-9]*\).*/\1/p' <<<"${lines[3]}")
  deleted=$(sed -n 's/.*Total Events Deleted \([0-9]*\).*/\1/p' <<<"${lines[4]}")
  [ -n "$visitors" ] && [ "$visitors" -gt 0 ] || fail "no visitors deleted: ${lines[3]}"
  [ -n "$deleted" ] && [ "$deleted" -gt 0 ] || fail "no events deleted: ${lines[4]}"
  [ "$(main_count "$site")" = $((cards - visitors)) ] || fail "cardholders left do not match the count logged"
  [ "$(log_count "$site")" = $((events - deleted)) ] || fail "events left do not match the count logged"
  [ ! -e "$site/Orvanta.mdb-journal" ] && [ ! -e "$site/Journal.mdb-journal" ] || fail "a journal was left behind"
  ;;

ansi-options)
  # A non-ASCII installation folder; the job's own options file in Windows-1252 moves the
  # databases and the log to non-ASCII names.
  site=$work/Zentrale-Müller
  make_site "$site"
  dbs=$site/Datenbanken-é
  mkdir "$dbs"
  mv "$site/Orvanta.mdb" "$dbs/"
  rm "$site/Journal.mdb"
  printf '[Scourex]\r\nDbsFolder=%s\r\nLogFile=Protokoll-\xc4rger.log\r\nEventMonths=2\r\n' \
    "$(win "$dbs" | iconv -f UTF-8 -t WINDOWS-1252)" >"$site/scourex.ini"
  [ "$(run_job "$site")" = 1 ] || fail "the missing journal database did not fail the run"
  log="$site/Protokoll-Ärger.log"
  [ -f "$log" ] || fail "no log under the Windows-1252 name: $(ls "$site")"
  grep -q "Total Visitor Deleted [1-9]" "$log" || fail "the main database in the non-ASCII folder was not purged"
  # The journal's error names its path in the ANSI code page.
  grep -q -a "Datenbanken-"$'\xe9'"\\\\Journal.mdb" "$log" || fail "the error line is not in Windows-1252"
  ! grep -q -a $'\xc3\xa9' "$log" || fail "UTF-8 in the log"
  ;;

options-encodings)
  # The job's own options file as Notepad and PowerShell save it: each moves the log to a
  # non-ASCII name and turns the event purge off, which shows it was read. NUL bytes without
  # a mark are an error line naming the file, and the run goes on without its settings.
  site=$work/site
  make_site "$site"
  options=$'[Scourex]\r\nLogFile=Protokoll-\xc4rger.log\r\nEventMonths=0\r\n'  # Windows-1252
  utf8=$(iconv -f WINDOWS-1252 -t UTF-8 <<<"$options")
  for encoding in utf-16le utf-16be utf-8-mark-then-1252 utf-16-without-mark; do
    case $encoding in
    utf-16le) { printf '\xff\xfe'; printf '%s' "$utf8" | iconv -f UTF-8 -t UTF-16LE; } >"$site/scourex.ini" ;;
    utf-16be) { printf '\xfe\xff'; printf '%s' "$utf8" | iconv -f UTF-8 -t UTF-16BE; } >"$site/scourex.ini" ;;
    utf-8-mark-then-1252) { printf '\xef\xbb\xbf'; printf '%s' "$options"; } >"$site/scourex.ini" ;;
    utf-16-without-mark) printf '%s' "$utf8" | iconv -f UTF-8 -t UTF-16LE >"$site/scourex.ini" ;;
    esac
    rm -f "$site"/*.log
    [ "$(run_job "$site")" = 0 ] || fail "$encoding: the run did not succeed"
    if [ $encoding = utf-16-without-mark ]; then
      log=$site/Scourex.log
      grep -q -a "Error #  321 - The options file '.*scourex.ini' is not text" "$log" ||
        fail "$encoding: no error line naming the file"
      grep -q "Total Events Deleted" "$log" || fail "$encoding: the run did not go on with the defaults"
    else
      log="$site/Protokoll-Ärger.log"
      [ -f "$log" ] || fail "$encoding: no log under the name the file gives: $(ls "$site")"
      grep -q "Total Visitor Deleted" "$log" || fail "$encoding: no visitor purge"
      ! grep -q "Total Events Deleted" "$log" || fail "$encoding: EventMonths=0 was not read"
      ! grep -q "Error" "$log" || fail "$encoding: $(grep Error "$log")"
    fi
  done
  ;;

shared-log)
  site=$work/site
  make_site "$site"
  printf 'earlier line\r\n' >"$site/Scourex.log"
  start_holder "$work/reader" "$WIN_BIN/tests/hold-file.exe" "$(win "$site/Scourex.log")" reader "$(win "$work/stop")"
  [ "$(run_job "$site")" = 0 ] || fail "the job did not succeed while the log was being read"
  touch "$work/stop"
  wait
  [ "$(head -n 1 "$site/Scourex.log")" = $'earlier line\r' ] || fail "the earlier line is gone"
  grep -q "Stop Application Scourex" "$site/Scourex.log" || fail "the job did not append to the log"
  grep -q "Stop Application Scourex" "$work/reader" || fail "the reader did not see the lines appended meanwhile"
  ;;

folder-at-log)
  # Only a regular file is written as the log; what stands there otherwise is left alone.
  # (Wine shows a host's symbolic links as plain files, so only a folder is planted here.)
  site=$work/site
  make_site "$site"
  mkdir "$site/Scourex.log"
  [ "$(run_job "$site")" = 1 ] || fail "a folder at the log did not end the run in status 1"
  [ -d "$site/Scourex.log" ] && [ -z "$(ls -A "$site/Scourex.log")" ] || fail "the folder at the log was touched"
  ;;

installation-lock)
  site=$work/site
  make_site "$site"
  before=$(md5sum "$site"/*.mdb)
  start_holder "$work/holder" "$WIN_BIN/tests/hold-installation.exe" "$(win "$site")\\" "$(win "$work/stop")"
  [ "$(run_job "$site")" = 1 ] || fail "a second run did not fail"
  holder_pid=$(awk '/held/ {print $2}' "$work/holder" | tr -d '\r')
  grep -q "Another run of Scourex is working on the installation .* It is held by process $holder_pid, running since [0-9]" \
    "$site/Scourex.log" || fail "no lock error naming the holder $holder_pid logged"
  [ "$(md5sum "$site"/*.mdb)" = "$before" ] || fail "the second run changed a database"
  touch "$work/stop"
  wait
  [ "$(run_job "$site")" = 0 ] || fail "the run after the first had ended did not succeed"
  ;;

exclusive-database)
  # Held open without sharing, as Jet's exclusive mode does; then in use as Access shows
  # it, with byte ranges of the lock file locked.
  site=$work/site
  make_site "$site"
  before=$(md5sum "$site/Orvanta.mdb")
  start_holder "$work/holder" "$WIN_BIN/tests/hold-file.exe" "$(win "$site/Orvanta.mdb")" exclusive "$(win "$work/stop")"
  [ "$(run_job "$site")" = 1 ] || fail "the run did not fail"
  grep -q "Orvanta.mdb' is held open by another program that shares it with no one" "$site/Scourex.log" ||
    fail "no clear error for the exclusively held database"
  grep -q "Total Events Deleted [1-9]" "$site/Scourex.log" || fail "the journal database was not purged"
  out=$(wine_run "$jetsql_exe" "$(win "$site/Orvanta.mdb")" -p Morvek3 -c "DELETE FROM CARD" 2>&1) &&
    fail "jetsql.exe changed the held database"
  [[ $out == *"shares it with no one"* ]] || fail "jetsql.exe: $out"
  touch "$work/stop"
  wait
  [ "$(md5sum "$site/Orvanta.mdb")" = "$before" ] || fail "the held database changed"
  rm -f "$work/stop"

  : >"$site/Orvanta.ldb"
  start_holder "$work/ldb" "$WIN_BIN/tests/hold-file.exe" "$(win "$site/Orvanta.ldb")" lock "$(win "$work/stop")"
  out=$(wine_run "$jetsql_exe" "$(win "$site/Orvanta.mdb")" -p Morvek3 -c "DELETE FROM CARD" 2>&1) &&
    fail "jetsql.exe changed a database in use"
  [[ $out == *"in use by another program"* ]] || fail "jetsql.exe: $out"
  [ "$(md5sum "$site/Orvanta.mdb")" = "$before" ] || fail "the database in use changed"
  ;;

jetsql-compare)
  # Every fixture table reads the same through the Windows and the Linux build, and the
  # job's deletes leave the same rows.
  if [ -z "${LINUX_JETSQL:-}" ] || [ ! -x "$LINUX_JETSQL" ]; then
    fail "LINUX_JETSQL names no Linux jetsql: configure with -DSCOUREX_LINUX_JETSQL=..."
  fi
  [ -d "$FIXTURES_DIR" ] || fail "no fixtures at $FIXTURES_DIR"
  tables=0
  while IFS= read -r -d '' mdb; do
    pw=()
    "$LINUX_JETSQL" "$mdb" --tables >/dev/null 2>&1 || pw=(-p Morvek3)
    linux_tables=$("$LINUX_JETSQL" "$mdb" "${pw[@]}" --tables)
    [ "$(jetsql_win "$(win "$mdb")" "${pw[@]}" --tables)" = "$linux_tables" ] || fail "tables of $mdb differ"
    while IFS= read -r t; do
      [ -n "$t" ] || continue
      diff <("$LINUX_JETSQL" "$mdb" "${pw[@]}" --dump "$t") <(jetsql_win "$(win "$mdb")" "${pw[@]}" --dump "$t") \
        >"$work/diff" || fail "table $t of $mdb differs: $(head -n 5 "$work/diff")"
      tables=$((tables + 1))
    done <<<"$linux_tables"
  done < <(find "$FIXTURES_DIR" -name '*.mdb' -print0 | sort -z)
  [ "$tables" -gt 30 ] || fail "only $tables tables compared"

  for side in linux windows; do cp -r "$FIXTURES_DIR/site-small" "$work/$side"; chmod -R u+w "$work/$side"; done
  purge="DELETE FROM CRDHLD WHERE [type] = 0 AND [Valid] = 0"
  "$LINUX_JETSQL" "$work/linux/Orvanta.mdb" -p Morvek3 -c "$purge" >"$work/l.out"
  jetsql_win "$(win "$work/windows/Orvanta.mdb")" -p Morvek3 -c "$purge" >"$work/w.out"
  cmp -s "$work/l.out" "$work/w.out" || fail "the delete reported differently"
  for t in CRDHLD CARD Join_EmpAG; do
    diff <("$LINUX_JETSQL" "$work/linux/Orvanta.mdb" -p Morvek3 --dump "$t") \
      <(jetsql_win "$(win "$work/windows/Orvanta.mdb")" -p Morvek3 --dump "$t") >/dev/null ||
      fail "table $t differs after the delete"
  done
  echo "$tables tables compared"
  ;;

odbc)
  # The job through Windows ODBC: Wine's odbc32 hands the wide calls to the host's
  # unixODBC, which has SQLite's driver.
  site=$work/site
  mkdir -p "$site"
  cp "$scourex_exe" "$site/"
  : >"$site/Orvanta.nam"
  old=$(date -d '-400 days' '+%Y-%m-%d %H:%M:%S') new=$(date -d '-10 days' '+%Y-%m-%d %H:%M:%S')
  sqlite3 "$site/site.db" <<SQL
CREATE TABLE CRDHLD (ID INTEGER PRIMARY KEY, type INTEGER, Valid INTEGER, From_Date TEXT, Loc_Date TEXT);
CREATE TABLE CARD (CardID INTEGER PRIMARY KEY, Owner INTEGER, CardNumber TEXT);
CREATE TABLE Join_EmpAG (Emp_ID INTEGER, AG_ID INTEGER);
CREATE TABLE Join_EmpAuthLift (Emp_ID INTEGER, Lift_ID INTEGER);
CREATE TABLE Join_EmpZoneID (Emp_ID INTEGER, Zone_ID INTEGER);
CREATE TABLE Exception (EmpID INTEGER, Door_ID INTEGER);
CREATE TABLE ExceptionAG (EmpID INTEGER, AG_ID INTEGER);
CREATE TABLE Log (ID INTEGER PRIMARY KEY, Date TEXT, Message TEXT);
INSERT INTO CRDHLD VALUES (1, 0, 0, '$old', '$old'), (2, 0, 0, '$new', '$new'), (3, 1, 0, '$old', '$old');
INSERT INTO CARD (Owner, CardNumber) VALUES (1, 'B1'), (2, 'B2'), (3, 'B3');
INSERT INTO Join_EmpAG VALUES (1, 1), (2, 1);
INSERT INTO Log VALUES (1, '$old', 'old'), (2, '$new', 'new');
SQL
  printf '[Orvanta]\r\nDBType=2\r\nSQL_Connect=Provider=MSDASQL;Driver={SQLite3};Database=%s\r\n' "$site/site.db" \
    >"$site/Orvanta.ini"
  [ "$(run_job "$site")" = 0 ] || fail "the job through ODBC did not succeed"
  grep -q "Total Visitor Deleted 1" "$site/Scourex.log" || fail "visitor count"
  grep -q "Total Events Deleted 1" "$site/Scourex.log" || fail "event count"
  [ "$(sqlite3 "$site/site.db" "SELECT group_concat(ID) FROM CRDHLD; SELECT group_concat(Owner) FROM CARD;")" = $'2,3\n2,3' ] ||
    fail "rows left: $(sqlite3 "$site/site.db" "SELECT ID FROM CRDHLD")"
  ;;

silent-dns)
  # A host name the name service never answers for: each open fails within its connect
  # timeout, saying so. The job alone sees a resolver configuration naming a silent
  # server of this script's, in a mount namespace of its own (root only).
  [ "$(id -u)" = 0 ] || { echo "[  SKIPPED ] needs root for a mount namespace"; exit 0; }
  site=$work/site
  mkdir -p "$site"
  cp "$scourex_exe" "$site/"
  : >"$site/Orvanta.nam"
  printf '[Orvanta]\r\nDBType=2\r\nSQL_Connect=Provider=SQLOLEDB;Data Source=zutritt-db.example.com;User ID=sa;Password=Secr3t;Connect Timeout=2\r\n' \
    >"$site/Orvanta.ini"
  # One try of 3 s: longer than the job's connect timeout, and short enough that a lookup
  # of Wine's own (as it starts or ends) cannot make the run look slow.
  printf 'nameserver 127.0.0.154\noptions timeout:3 attempts:1\n' >"$work/resolv.conf"
  # Wine looks up the machine's own name as it starts; where /etc/hosts lacks it, that
  # lookup would wait on the silent server too, before the job even begins.
  { cat /etc/hosts; printf '127.0.0.1 %s\n' "$(uname -n)"; } >"$work/hosts"
  perl -MIO::Socket::INET -e 'my $s = IO::Socket::INET->new(LocalAddr => "127.0.0.154:53", Proto => "udp") or die "$!"; print "held\n"; $| = 1; sleep 60' \
    >"$work/dns" 2>&1 &
  dns_pid=$!
  for _ in $(seq 1 50); do grep -q held "$work/dns" && break; sleep 0.1; done
  grep -q held "$work/dns" || fail "no silent name server: $(cat "$work/dns")"
  start=$(date +%s)
  status=0
  (cd / && timeout 60 unshare -m sh -c \
    'mount --bind "$1" /etc/resolv.conf && mount --bind "$2" /etc/hosts && exec "$3" "$4" 2>/dev/null' sh \
    "$work/resolv.conf" "$work/hosts" "$WINE" "$site/scourex.exe") || status=$?
  took=$(($(date +%s) - start))
  kill "$dns_pid" 2>/dev/null || true
  [ "$status" = 1 ] || fail "the run did not fail: $status"
  [ "$(grep -c "the name service (DNS) did not answer for the host 'zutritt-db.example.com' within the connect timeout of 2 seconds" "$site/Scourex.log")" = 2 ] ||
    fail "the opens did not say the name went unanswered"
  ! grep -q "Secr3t" "$site/Scourex.log" || fail "the password is in the log"
  # The job's own span, from its log: Wine's start and end vary with the machine.
  first=$(head -n 1 "$site/Scourex.log" | awk '{print $1, $2, $3}')
  last=$(grep "Stop Application" "$site/Scourex.log" | awk '{print $1, $2, $3}')
  span=$(($(date -d "$last" +%s) - $(date -d "$first" +%s)))
  [ "$span" -lt 8 ] || fail "the job took ${span}s, not two opens of 2s"
  [ "$took" -lt 40 ] || fail "the run took ${took}s"
  ;;

*)
  fail "unknown case"
  ;;
esac
