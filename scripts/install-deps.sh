#!/usr/bin/env bash
# Installs what building, testing and running Scourex needs on a Debian machine.
set -euo pipefail
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

packages=(
  build-essential cmake ninja-build pkg-config g++ clang libclang-rt-14-dev
  libgtest-dev libgmock-dev
  unixodbc unixodbc-dev odbcinst libsqliteodbc tdsodbc sqlite3
  nettle-dev mdbtools
  # xxHash, used header-only (also by the Windows build) for the journal's checksums.
  libxxhash-dev
  # The Windows programs: cross compiler, GoogleTest's sources to build with it, Wine to
  # run the tests, zip to pack them.
  g++-mingw-w64-x86-64-posix googletest wine wine64 zip
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
command -v node >/dev/null && command -v npm >/dev/null || missing+=(nodejs npm)
if [ ${#missing[@]} -gt 0 ]; then
  as_root apt-get update
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
fi

# The ODBC drivers register themselves when installed; make sure they are, by name.
for spec in "SQLite3:/usr/share/sqliteodbc/unixodbc.ini" "FreeTDS:/usr/share/tdsodbc/odbcinst.ini"; do
  name=${spec%%:*} file=${spec#*:}
  if ! odbcinst -q -d 2>/dev/null | grep -qx "\[$name\]" && [ -f "$file" ]; then
    as_root odbcinst -i -d -f "$file" >/dev/null
  fi
done
