#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds and tests a normal build and an
# address/undefined-behaviour sanitizer build, builds the Windows programs and runs their
# tests under Wine, then runs every fuzz target for a short while. Each part's time is
# printed at its end.
set -euo pipefail
cd "$(dirname "$0")/.."
part_start=$SECONDS
took() {
  echo "== $1 took $((SECONDS - part_start)) s"
  part_start=$SECONDS
}
scripts/install-deps.sh
took "installing"
jobs=$(nproc)
fuzz_seconds=${SCOUREX_FUZZ_SECONDS:-20}

if [ -f tests/js/package.json ]; then
  (cd tests/js && npm install --no-audit --no-fund --loglevel=error)
fi

echo "== build and test"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"
scripts/check-skips.sh build
took "build and test"

echo "== sanitizer build (address, undefined) and test"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSCOUREX_SANITIZE=ON >/dev/null
ninja -C build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"
scripts/check-skips.sh build-asan
took "sanitizer build and test"

# Windows: cross-built with mingw-w64, run under Wine in a prefix of its own. The
# sanitizers stay with the Linux builds.
echo "== Windows build (mingw-w64) and test under Wine"
export WINEPREFIX=$PWD/build-win/wineprefix WINEDEBUG=-all
cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DSCOUREX_LINUX_JETSQL="$PWD/build/tools/jetsql" >/dev/null
ninja -C build-win -j "$jobs"
took "Windows build"
# One Wine server for the whole run: set up the prefix once, keep the server alive
# between the tests' programs.
wineboot --init >/dev/null 2>&1 || true
wineserver --persistent=300 || true  # already running from wineboot: fine
ctest --test-dir build-win --output-on-failure -j "$jobs"
scripts/check-skips.sh build-win
wineserver --kill || true
took "Windows tests under Wine"

if ls fuzz/fuzz_*.cpp >/dev/null 2>&1; then
  echo "== fuzzing, ${fuzz_seconds}s per target (libFuzzer, address and undefined sanitizers)"
  cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DSCOUREX_FUZZ=ON -DSCOUREX_SANITIZE=ON >/dev/null
  ninja -C build-fuzz -j "$jobs" $(for f in fuzz/fuzz_*.cpp; do basename "$f" .cpp; done)
  for f in fuzz/fuzz_*.cpp; do
    name=$(basename "$f" .cpp)
    corpus=fuzz/corpus/${name#fuzz_}
    work=$(mktemp -d)
    [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/
    echo "-- $name"
    build-fuzz/fuzz/"$name" -max_total_time="$fuzz_seconds" -print_final_stats=0 "$work" 2>&1 | tail -n 2
    rm -rf "$work"
  done
  took "fuzzing"
fi
echo "== all tests passed"
