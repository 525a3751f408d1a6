#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: unit and window tests (headless), the
# command-line converter's tests, the data regeneration check, and short fuzzing runs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/deps.sh "build ui fuzz dist"
jobs=$(nproc)

# The fuzzers need clang with ASan and UBSan: a build of their own.
CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DQUORVEL_FUZZ=ON -DQUORVEL_BUILD_UI=OFF \
  -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j"$jobs"

cmake -S . -B build -G Ninja -DQUORVEL_FUZZERS_DIR="$root/build-fuzz/bin" >/dev/null
cmake --build build -j"$jobs"

# Window tests run without a display; QtWebEngine as root needs its sandbox off.
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j"$jobs"
