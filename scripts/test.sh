#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: unit and window tests (headless), the
# command-line converter's tests, the data regeneration check, and short fuzzing runs; then the
# engine's and the command-line converter's tests again under the sanitizers.
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

# The engine and quorvel-cli under AddressSanitizer and UndefinedBehaviorSanitizer: a build of
# their own without the windows, in which the tests labelled core and cli run; a finding fails.
# -O1 with line tables only compiles in half the time of -O2 -g; reports still name the lines.
cmake -S . -B build-asan -G Ninja -DQUORVEL_SANITIZE=ON -DQUORVEL_BUILD_UI=OFF \
  -DQUORVEL_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" >/dev/null
cmake --build build-asan -j"$jobs" --target core_tests cli_tests
UBSAN_OPTIONS=print_stacktrace=1 ctest --test-dir build-asan -L '^(core|cli)$' --output-on-failure -j"$jobs"
