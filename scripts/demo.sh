#!/usr/bin/env bash
# Builds the programs and starts ledger in this terminal with the ledger
# application folder of the repository.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j "$(nproc)" --target ledger billing appctl
app="$root/apps/ledger/app"
mkdir -p "$root/build/demo"
cd "$root/build/demo"
set +e
"$root/build/apps/ledger/ledger" "/DPATH:$app" "$@"
status=$?
set -e
echo "ledger ended with exit status $status"
