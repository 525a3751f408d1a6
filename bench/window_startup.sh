#!/usr/bin/env bash
# Window start-up of the desktop program against a bare Qt Widgets window, side by side in one
# run under Xvfb: time from process start to the window being mapped, and memory 3 s after that.
#
#   bench/window_startup.sh [-n RUNS] [LABEL=BUILD_DIR]...    (default: -n 7 after=build)
#
# Each round starts the bare window and then every labelled build's bin/quorvel, in turn, so that
# the machine's load falls on all of them alike; one round is run first and dropped (caches).
# Each program runs from a fresh copy of its bin folder, without settings files. Prints every
# run and then the medians; results go to bench/README.md by hand. Needs xvfb, xauth, g++,
# pkg-config, libxcb and the Qt 6 development files.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=7
if [ "${1:-}" = -n ]; then runs=$2; shift 2; fi
[ $# -gt 0 ] || set -- "after=$root/build"

"$root/scripts/deps.sh" ui
pkg-config --exists xcb || { echo "window_startup.sh: needs libxcb1-dev (pkg-config xcb)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck disable=SC2046
g++ -std=c++20 -O2 "$root/bench/window_mapped.cpp" -o "$work/window_mapped" $(pkg-config --cflags --libs xcb)
# shellcheck disable=SC2046
g++ -std=c++20 -O2 -fPIC "$root/bench/bare_window.cpp" -o "$work/bare_window" \
  $(pkg-config --cflags --libs Qt6Widgets)

programs=("bare=$work/bare_window")
for entry in "$@"; do
  label=${entry%%=*}
  bin=${entry#*=}/bin
  [ -x "$bin/quorvel" ] || { echo "window_startup.sh: no $bin/quorvel" >&2; exit 1; }
  cp -r "$bin" "$work/app-$label"
  rm -f "$work/app-$label/config.db" "$work/app-$label/config1.dll"
  programs+=("$label=$work/app-$label/quorvel")
done

xvfb-run -a -s "-screen 0 800x600x24 -nolisten tcp" bash -c '
  unset WAYLAND_DISPLAY
  export QT_QPA_PLATFORM=xcb
  watch=$1 runs=$2 out=$3; shift 3
  for round in $(seq 0 "$runs"); do
    for entry in "$@"; do
      label=${entry%%=*}
      line=$("$watch" 3 "${entry#*=}")
      [ "$round" -eq 0 ] || echo "$label $line" >> "$out"
    done
  done' _ "$work/window_mapped" "$runs" "$work/results" "${programs[@]}"

echo "label mapped_ms rss_kib pss_kib tree_pss_kib processes  (each run, 3 s after mapping)"
cat "$work/results"
python3 - "$work/results" <<'PY'
import statistics, sys
rows = {}
for line in open(sys.argv[1]):
    label, *values = line.split()
    rows.setdefault(label, []).append([float(v) for v in values])
bare_runs = rows["bare"]
bare = [statistics.median(c) for c in zip(*bare_runs)]
print(f"\nmedians of {len(bare_runs)} runs | mapped ms | x bare (ratio of medians) | x bare (median of "
      "each round's ratio) | own RSS MiB | own PSS MiB | own RSS - bare MiB | with helpers PSS MiB | processes")
for label, runs in rows.items():
    m = [statistics.median(c) for c in zip(*runs)]
    paired = statistics.median(r[0] / b[0] for r, b in zip(runs, bare_runs))
    print(f"{label:8} | {m[0]:7.1f} | {m[0] / bare[0]:5.2f} | {paired:5.2f} | {m[1] / 1024:7.1f} | "
          f"{m[2] / 1024:7.1f} | {(m[1] - bare[1]) / 1024:+7.1f} | {m[3] / 1024:7.1f} | {m[4]:.0f}")
PY
