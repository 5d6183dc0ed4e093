#!/usr/bin/env bash
# Set-up, build and every test: the command CI runs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
build=${KESTOVANE_BUILD_DIR:-build}
QT_QPA_PLATFORM=offscreen ctest --test-dir "$build" --output-on-failure -j2 --timeout 300
