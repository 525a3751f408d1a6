#!/usr/bin/env bash
# Builds the Debian packages of a build folder with cpack into a temporary folder (quorvel, and
# with the desktop program quorvel-web-banner), runs lintian on them (no errors allowed) and checks
# the files they hold and what they depend on.
# Usage: check_package.sh BUILD_DIR VERSION APP_ID WITH_UI(ON|OFF)
set -uo pipefail
build=$1 version=$2 id=$3 with_ui=$4
for tool in cpack:cmake dpkg-deb:dpkg dpkg-shlibdeps:dpkg-dev lintian:lintian; do
  if ! command -v "${tool%%:*}" >/dev/null; then
    echo "FAIL: ${tool%%:*} not found: install ${tool#*:} (scripts/deps.sh)" >&2
    exit 1
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if ! (cd "$build" && cpack -G DEB -B "$work/out") >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"; echo "FAIL: cpack -G DEB failed"; exit 1
fi
arch=$(dpkg --print-architecture)
deb=$work/out/quorvel_${version}_$arch.deb
banner_deb=$work/out/quorvel-web-banner_${version}_$arch.deb
debs=("$deb")
[ "$with_ui" = ON ] && debs+=("$banner_deb")
for made in "${debs[@]}"; do
  [ -f "$made" ] || { ls "$work/out"; echo "FAIL: cpack made no $(basename "$made")"; exit 1; }
done

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

echo "== lintian"
lintian --fail-on error --tag-display-limit 0 "${debs[@]}" 2>&1 | grep -v '^running with root privileges'
[ "${PIPESTATUS[0]}" -eq 0 ] || fail "lintian reports errors"

echo "== dependencies"
depends=$(dpkg-deb -f "$deb" Depends)
echo "quorvel: Depends: $depends"
# Of Qt, the programs need Widgets, Gui and Core only; the browser engine is the banner's.
qt=$(tr ',' '\n' <<<"$depends" | sed 's/^ *//; s/ .*//' | grep '^libqt' | sort | tr '\n' ' ')
if [ "$with_ui" = ON ]; then
  [ "$qt" = "libqt6core6 libqt6gui6 libqt6widgets6 " ] || fail "quorvel depends on the Qt libraries $qt"
  [ "$(dpkg-deb -f "$deb" Suggests)" = quorvel-web-banner ] || fail "quorvel does not suggest quorvel-web-banner"
  banner_depends=$(dpkg-deb -f "$banner_deb" Depends)
  echo "quorvel-web-banner: Depends: $banner_depends"
  grep -qF "quorvel (= $version)" <<<"$banner_depends" || fail "quorvel-web-banner does not depend on quorvel (= $version)"
  grep -q 'libqt6webenginewidgets6' <<<"$banner_depends" || fail "quorvel-web-banner does not depend on the browser engine"
  banner_files=$(dpkg-deb -c "$banner_deb" | awk '{ print $NF }' | sed 's|^\./||' | grep -v '/$' | sort | tr '\n' ' ')
  expected_banner="usr/lib/quorvel/plugins/quorvel-web-banner.so usr/share/doc/quorvel-web-banner/changelog.gz usr/share/doc/quorvel-web-banner/copyright "
  [ "$banner_files" = "$expected_banner" ] || fail "quorvel-web-banner holds $banner_files"
else
  [ -z "$qt" ] || fail "quorvel-cli alone depends on the Qt libraries $qt"
fi

echo "== contents"
dpkg-deb -c "$deb" | awk '{ print $NF }' | sed 's|^\./||' | grep -v '/$' >"$work/files"
cat "$work/files"
expected=(
  usr/bin/quorvel-cli
  usr/share/man/man1/quorvel-cli.1.gz
  usr/share/bash-completion/completions/quorvel-cli
  usr/share/doc/quorvel/copyright
  usr/share/doc/quorvel/changelog.gz
)
if [ "$with_ui" = ON ]; then
  expected+=(
    usr/bin/quorvel
    usr/share/man/man1/quorvel.1.gz
    "usr/share/applications/$id.desktop"
    "usr/share/metainfo/$id.metainfo.xml"
    "usr/share/icons/hicolor/scalable/apps/$id.svg"
  )
  for size in 16 32 48 64 128 256; do
    expected+=("usr/share/icons/hicolor/${size}x${size}/apps/$id.png")
  done
fi
for path in "${expected[@]}"; do
  grep -qxF "$path" "$work/files" || fail "the package lacks /$path"
done
# The six list files among the shipped data; nothing but the programs in usr/bin.
for name in pinyin_han pinyin_wei define_han define_py define_wei_han define_wei_py; do
  grep -qxF "usr/share/quorvel/$name.dll" "$work/files" || fail "the package lacks /usr/share/quorvel/$name.dll"
done
in_bin=$(grep -E '^usr/bin/' "$work/files" | grep -vxE 'usr/bin/quorvel(-cli)?')
[ -z "$in_bin" ] || fail "usr/bin holds more than the programs: $in_bin"
! grep -q 'web-banner' "$work/files" || fail "quorvel holds the web banner: $(grep 'web-banner' "$work/files")"
outside=$(grep -v '^usr/' "$work/files")
[ -z "$outside" ] || fail "files outside /usr: $outside"

echo "== what the files say about each other"
dpkg-deb -x "$deb" "$work/root"
control_version=$(dpkg-deb -f "$deb" Version)
[ "$control_version" = "$version" ] || fail "package version $control_version, project $version"
zcat "$work/root/usr/share/doc/quorvel/changelog.gz" | head -1 | grep -q "^quorvel ($version) " ||
  fail "the changelog's latest entry is not quorvel ($version)"
if [ "$with_ui" = ON ]; then
  desktop=$work/root/usr/share/applications/$id.desktop
  metainfo=$work/root/usr/share/metainfo/$id.metainfo.xml
  icon=$(sed -n 's/^Icon=//p' "$desktop")
  [ "$icon" = "$id" ] || fail "the desktop entry's icon is '$icon', the installed icons are $id"
  exec_program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
  [ -x "$work/root/usr/bin/$exec_program" ] || fail "the desktop entry runs '$exec_program', not in /usr/bin"
  grep -qF "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
    fail "the metainfo does not launch $id.desktop"
  grep -qF "<id>$id</id>" "$metainfo" || fail "the metainfo's id is not $id"
  first_release=$(grep -o '<release version="[^"]*"' "$metainfo" | head -1)
  [ "$first_release" = "<release version=\"$version\"" ] ||
    fail "the metainfo's latest release is $first_release, the project's version $version"
fi

[ "$failures" -eq 0 ] || exit 1
echo "${debs[*]##*/}: lintian without errors, contents and dependencies as expected"
