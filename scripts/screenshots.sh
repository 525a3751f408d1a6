#!/usr/bin/env bash
# Renders the main window of the desktop program under Xvfb, once in Chinese and once in English,
# into docs/main-window-zh.png and docs/main-window-en.png.
#
#   scripts/screenshots.sh [BUILD_DIR]      (default: build; the program must be built there)
#
# Needs xvfb, xauth, g++, pkg-config and the Qt 6 development files. The program runs from a copy
# of the build's bin folder, so the settings there are left alone. Without network the banner
# shows its built-in page.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
bin=$build/bin
[ -x "$bin/quorvel" ] || { echo "screenshots.sh: no $bin/quorvel; build the program first" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# shellcheck disable=SC2046
g++ -std=c++20 -O1 -fPIC "$root/scripts/grab_screen.cpp" -o "$work/grab_screen" \
  $(pkg-config --cflags --libs Qt6Gui)

for lang in zh en; do
  app=$work/app-$lang
  cp -r "$bin" "$app"
  rm -f "$app/config.db" "$app/config1.dll"
  if [ "$lang" = en ]; then printf 'en\r\n' > "$app/config.db"; fi
  out=$root/docs/main-window-$lang.png
  # One X server per picture, with a black root so that the window can be cut out.
  xvfb-run -a -s "-screen 0 800x600x24 -br -nolisten tcp" bash -c '
    unset QT_QPA_PLATFORM WAYLAND_DISPLAY
    "$1/quorvel" 2>"$1/quorvel.log" &
    pid=$!
    sleep "${SCREENSHOT_WAIT:-8}"
    status=0
    QT_QPA_PLATFORM=xcb "$2" "$3" || status=$?
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    exit "$status"' _ "$app" "$work/grab_screen" "$out"
  echo "wrote $out"
done
