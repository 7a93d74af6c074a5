#!/usr/bin/env bash
# Builds the 64-bit Windows programs with mingw-w64 and packs them, with a short README,
# into dist/scourex-windows-x64.zip.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C build-win scourex jetsql make-site

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
for exe in src/scourex.exe tools/jetsql.exe tools/make-site.exe; do
  x86_64-w64-mingw32-strip -o "$stage/$(basename "$exe")" "build-win/$exe"
done
sed 's/$/\r/' >"$stage/README.txt" <<'TEXT'
Scourex for Windows (64-bit)

scourex.exe   the maintenance job: purges old visitors and events from the product's
              databases, then ends. It shows no window and asks nothing.
jetsql.exe    runs one SQL statement on a Jet database file (.mdb) and prints the rows.
make-site.exe writes a demonstration installation with Jet files.

Installing
1. Copy scourex.exe into the product's installation folder, beside Orvanta.nam (or
   Helmgate.nam) and Orvanta.ini. Settings of its own may go in scourex.ini there.
2. Schedule it, for example nightly at 02:30 as the account that runs the product:
     schtasks /Create /TN "Scourex" /SC DAILY /ST 02:30 /RU SYSTEM /TR "\"C:\Program Files\Orvanta\scourex.exe\""
3. Read Scourex.log in the installation folder after the first run.

Nothing else is needed: the Jet engine is built in (no Access Database Engine, no
Jet OLE DB provider), and it works in 64-bit. For SQL Server (DBType=2) the job uses
Microsoft's ODBC Driver 18 or 17 when installed, else the "SQL Server" driver that comes
with Windows.
TEXT
mkdir -p dist
rm -f dist/scourex-windows-x64.zip
(cd "$stage" && zip -q -X -9 "$OLDPWD/dist/scourex-windows-x64.zip" README.txt scourex.exe jetsql.exe make-site.exe)
echo "dist/scourex-windows-x64.zip"
