#!/usr/bin/env bash
# Builds everything and runs the whole test suite twice: once in a normal
# build, once under AddressSanitizer and UndefinedBehaviorSanitizer (clang),
# which also runs a short smoke pass of every fuzz target.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
jobs=$(nproc)

# The tests labelled pg run against the private cluster of the build folder,
# started for each ctest run and stopped after it, whatever the outcome.
pgcluster=""
stop_cluster() {
  [ -z "$pgcluster" ] || "$root/scripts/pgcluster.sh" -d "$pgcluster" stop || true
  pgcluster=""
}
trap stop_cluster EXIT
trap 'exit 130' INT TERM
run_ctest() {
  local build=$1
  shift
  pgcluster="$build/pgcluster"
  local settings
  settings=$("$root/scripts/pgcluster.sh" -d "$pgcluster" start)
  eval "$settings"
  "$@" ctest --test-dir "$build" --output-on-failure --timeout 300 -j "$jobs"
  stop_cluster
}

echo "== build (g++)"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j "$jobs"
echo "== tests"
run_ctest "$root/build"

echo "== build (clang, sanitizers, fuzz targets)"
CC=clang CXX=clang++ cmake -S "$root" -B "$root/build-san" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DQV_SANITIZE=ON -DQV_FUZZ=ON >/dev/null
cmake --build "$root/build-san" -j "$jobs"
echo "== tests under sanitizers"
run_ctest "$root/build-san" env ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1
echo "== all tests passed"
