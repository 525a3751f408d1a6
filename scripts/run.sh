#!/usr/bin/env bash
# Installs what is missing, builds, and starts the desktop program.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/deps.sh "build ui"
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j"$(nproc)"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  cat <<MSG
No display: this machine has no graphical session (DISPLAY and WAYLAND_DISPLAY are not set),
so the desktop program cannot open its window. For terminals and scripts use the command-line
converter, which has the same engine:

  build/bin/quorvel-cli --help
  build/bin/quorvel-cli names.txt            # writes names_en.txt

Here it is on the bundled sample (data/sample_names.txt):
MSG
  build/bin/quorvel-cli data/sample_names.txt -
  exit 0
fi
exec build/bin/quorvel
