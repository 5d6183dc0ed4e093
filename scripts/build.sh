#!/usr/bin/env bash
# Configures (once) and builds into build/ with two jobs.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${KESTOVANE_BUILD_DIR:-build}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 "$@"
