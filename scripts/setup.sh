#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those missing.
# As root it installs them; otherwise it prints the command that would.
set -euo pipefail
packages=(build-essential cmake ninja-build ccache pkg-config
          libgtest-dev libgmock-dev libbenchmark-dev
          qt6-base-dev libgl-dev xvfb xauth)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages: ${missing[*]}" >&2
  echo "Install them with: sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
