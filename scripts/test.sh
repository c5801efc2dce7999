#!/usr/bin/env bash
# Sets up what is missing, then configures, builds and runs every test twice:
# once in the normal build (g++) and once in an AddressSanitizer +
# UndefinedBehaviorSanitizer build (clang) that also runs each fuzz target
# for a short, bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

jobs=$(nproc)
export CTEST_OUTPUT_ON_FAILURE=1

echo "== build (g++, warnings as errors)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUST_WERROR=ON >/dev/null
cmake --build build -j "$jobs"
echo "== tests"
ctest --test-dir build -j "$jobs" --timeout 600

echo "== build (clang, AddressSanitizer + UndefinedBehaviorSanitizer, fuzz targets)"
CC=clang CXX=clang++ cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DUST_SANITIZE=ON -DUST_FUZZ=ON -DUST_BENCH=OFF -DCMAKE_CXX_FLAGS=-O1 >/dev/null
cmake --build build-asan -j "$jobs"
echo "== tests under the sanitizers"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan -j "$jobs" --timeout 900
