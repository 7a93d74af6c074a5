#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds and tests a normal build and an
# address/undefined-behaviour sanitizer build, then runs every fuzz target for a short while.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
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

echo "== sanitizer build (address, undefined) and test"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSCOUREX_SANITIZE=ON >/dev/null
ninja -C build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"
scripts/check-skips.sh build-asan

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
fi
echo "== all tests passed"
