#!/usr/bin/env bash
# Sets up what is missing, builds, writes the demo installation into demo/,
# installs the wizard, ust2020ctl and the two libraries into its program
# directory (the programs take their own directory as the suite's program
# directory) and starts the wizard there. Without a display the same
# conversion runs headless with `ust2020ctl convert`.
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

# A fresh demo installation every time, so there is always something to convert.
rm -rf demo
build/bin/ust2020demo demo
prog=demo/Programm
for f in ust2020ctl libxbe50.so libfts32.so; do cp build/bin/$f $prog/; done
if [ -d build/bin/Style ]; then mkdir -p $prog/Style && cp build/bin/Style/*.qss $prog/Style/; fi
[ -x build/bin/USt2020 ] && cp build/bin/USt2020 $prog/

if [ -x $prog/USt2020 ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
  echo "Starte den Assistenten: $prog/USt2020"
  exec $prog/USt2020
fi

echo
echo "Keine grafische Oberfläche gefunden: die Umstellung läuft ohne Fenster (ust2020ctl convert)."
$prog/ust2020ctl check
$prog/ust2020ctl convert
$prog/ust2020ctl verify
