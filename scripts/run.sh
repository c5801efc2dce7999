#!/usr/bin/env bash
# Sets up what is missing, builds, and runs the main job.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"

# The host environment keeps its stores in XDG locations; a throw-away set
# keeps this run away from the real home and /etc.
xdg="$(mktemp -d)"
trap 'rm -rf "$xdg"' EXIT
export XDG_CONFIG_HOME="$xdg/config" XDG_DATA_HOME="$xdg/data" \
       XDG_CONFIG_DIRS="$xdg/etc" XDG_DATA_DIRS="$xdg/share" XDG_RUNTIME_DIR="$xdg/run"
mkdir -p "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

echo "Mandanten der Beispielinstallation:"
build/bin/ust2020ctl --prog-dir samples/installation mandanten
