#!/usr/bin/env bash
# Set-up, build, and start the updater.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
exec "${KESTOVANE_BUILD_DIR:-build}/kestovane" "$@"
