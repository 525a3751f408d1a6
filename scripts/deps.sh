#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs, only those missing (quick when none are).
# Usage: scripts/deps.sh [build|ui|fuzz|dist|bench]...   (default: build ui)
set -euo pipefail

# Workbooks: libzip and expat read .xlsx files, libxlsxwriter writes them.
build=(cmake ninja-build g++ python3 pkg-config libgtest-dev libgmock-dev libbenchmark-dev unicode-data
  libzip-dev libexpat1-dev libxlsxwriter-dev)
ui=(qt6-base-dev qt6-base-dev-tools qt6-webengine-dev qt6-translations-l10n xdg-utils libjpeg62-turbo-dev libgl-dev fonts-noto-cjk xvfb xauth)
fuzz=(clang libclang-rt-14-dev)
# Checks of the desktop entry, metainfo, manual pages and the Debian package; the code's layout.
dist=(desktop-file-utils appstream lintian dpkg-dev mandoc bash-completion clang-format-14)
bench=(hyperfine time)

wanted=()
for group in "${@:-build ui}"; do
  for g in $group; do
    case "$g" in
      build|ui|fuzz|dist|bench) ;;
      *) echo "deps.sh: unknown group '$g' (groups: build ui fuzz dist bench)" >&2; exit 2 ;;
    esac
    declare -n list="$g"
    wanted+=("${list[@]}")
  done
done

missing=()
for p in "${wanted[@]}"; do
  if [ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" != "install ok installed" ]; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
