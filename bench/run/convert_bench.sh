#!/usr/bin/env bash
# The whole conversion of one Mandant, as a user runs it: `ust2020ctl convert`
# on a demo installation with N accounts, timed by wall clock, beside the
# time `cp` takes to copy the same accounting files (the scale the
# conversion is measured against: at most 3 x cp + 1 s).
#
#   bench/run/convert_bench.sh [BUILD_DIR] [N...]     (default: build 10000 100000 1000000)
#
# Each size is measured three times on a fresh installation; the best time
# counts. The installations live in a temporary folder that is removed.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
shift || true
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(10000 100000 1000000)
bin=$(cd "$build/bin" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/convert_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_RUNTIME_DIR=$work/run DISPLAY=
mkdir -p "$XDG_RUNTIME_DIR"

now() { date +%s.%N; }
best() { printf '%s\n' "$@" | sort -g | head -n1; }

printf '%-10s %10s %10s %12s %14s\n' accounts data_MB cp_s convert_s target_s
for n in "${sizes[@]}"; do
  cps=() convs=()
  for round in 1 2 3; do
    inst=$work/inst
    rm -rf "$inst" "$work/copy" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME"
    "$bin/ust2020demo" --mandanten 1 --konten "$n" "$inst" >/dev/null
    prog=$(dirname "$(find "$inst" -iname 'zempa.ini' | head -n1)")
    cp "$bin"/ust2020ctl "$bin"/libxbe50.so "$bin"/libfts32.so "$prog"/
    fibu=$(find "$inst" -type d -name Fibu | head -n1)
    files=$(find "$fibu" -maxdepth 1 -type f \( -iname 'konto.*' -o -iname 'steuersatz.*' \))
    mb=$(du -cm $files | tail -n1 | cut -f1)
    sync
    mkdir -p "$work/copy"
    t0=$(now); cp $files "$work/copy/"; t1=$(now)
    cps+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN{print b-a}')")
    t0=$(now); "$prog/ust2020ctl" --prog-dir "$prog/" convert >/dev/null; t1=$(now)
    convs+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN{print b-a}')")
  done
  cp_s=$(best "${cps[@]}"); conv_s=$(best "${convs[@]}")
  printf '%-10s %10s %10.3f %12.3f %14.3f\n' "$n" "$mb" "$cp_s" "$conv_s" "$(awk -v c="$cp_s" 'BEGIN{print 3*c+1}')"
done
