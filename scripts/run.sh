#!/usr/bin/env bash
# The main job: set-up, build, then program a simulated device with this
# build's firmware set. The simulated bootloader plays a dsPIC (device code
# 254) on a pseudo-terminal published as COM1 in a private port map folder;
# the updater runs in its window when a display is present, in console mode
# otherwise. At the end the simulator says whether its memory holds the image.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
build=${KESTOVANE_BUILD_DIR:-build}

work=$(mktemp -d)
trap 'kill "${sim_pid:-}" 2>/dev/null || true; rm -rf "$work"' EXIT
# Private folders: the demo neither uses nor changes the operator's own
# port links, stored port choice or running copy.
export KESTOVANE_PORT_DIR="$work/ports" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$KESTOVANE_PORT_DIR" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"

"$build/tools/sim/kestovane-sim" --port-dir "$KESTOVANE_PORT_DIR" --com 1 \
  --device 254 --version 10 --print 16 --prep 4 --pace \
  --expect-hex firmware/pic24hj64_app.hex --exit-after-programming --quiet &
sim_pid=$!
for _ in $(seq 100); do [ -e "$KESTOVANE_PORT_DIR/COM1" ] && break; sleep 0.05; done

status=0
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "Press START in the Upgrade window, then close it."
  "$build/kestovane" "$@" || status=$?
else
  "$build/kestovane" --console --port COM1 "$@" || status=$?
fi
echo "updater finished with exit code $status"
sim_status=0
kill -TERM "$sim_pid" 2>/dev/null || true
wait "$sim_pid" || sim_status=$?
sim_pid=
exit $(( status != 0 ? status : sim_status ))
