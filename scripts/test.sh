#!/usr/bin/env bash
# Builds everything and runs the whole test suite twice: once in a normal
# build, once under AddressSanitizer and UndefinedBehaviorSanitizer (clang),
# which also runs a short smoke pass of every fuzz target.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
jobs=$(nproc)

echo "== build (g++)"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j "$jobs"
echo "== tests"
ctest --test-dir "$root/build" --output-on-failure -j "$jobs"

echo "== build (clang, sanitizers, fuzz targets)"
CC=clang CXX=clang++ cmake -S "$root" -B "$root/build-san" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DQV_SANITIZE=ON -DQV_FUZZ=ON >/dev/null
cmake --build "$root/build-san" -j "$jobs"
echo "== tests under sanitizers"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$root/build-san" --output-on-failure -j "$jobs"
echo "== all tests passed"
