#!/usr/bin/env bash
# The installed programs as an ordinary user sees them: `cmake --install` into a temporary prefix,
# then, as an unprivileged user (nobody when this runs as root) with a fresh HOME:
# quorvel-cli converts a file; a dictionary entry added through the engine's editor code lands
# in the user's folder and the next conversion uses it; the window starts and closes with no
# message box and leaves its settings in the user's config folder. Nothing under the prefix
# changes on the way.
# Usage: check_installed.sh BUILD_DIR WITH_UI(ON|OFF) ADD_DICTIONARY_ENTRY_PROGRAM
set -uo pipefail
build=$1 with_ui=$2 add_entry=$3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
prefix=$work/prefix home=$work/home files=$work/files
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if ! cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
  cat "$work/install.log"; echo "FAIL: cmake --install failed"; exit 1
fi
mkdir -p "$home" "$files"
cp "$add_entry" "$work/add_dictionary_entry"
chmod 755 "$work/add_dictionary_entry"
printf '\xc1\xf5\xb5\xc2\xbb\xaa\r\n\xd4\xf8\xb9\xfa\xb7\xaa\r\n' >"$files/names.txt"  # 刘德华 曾国藩 (GBK)

as_user=()
if [ "$(id -u)" -eq 0 ]; then
  command -v setpriv >/dev/null || { echo "FAIL: setpriv not found (util-linux)"; exit 1; }
  chown -R nobody:nogroup "$home" "$files"
  as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups --)
  echo "running as nobody"
fi
# A clean environment: only what a desktop session would give the program.
user_env=(env -i "HOME=$home" PATH=/usr/bin:/bin LANG=C.UTF-8)
run() { "${as_user[@]}" "${user_env[@]}" "$@"; }

# What the prefix holds, down to every byte: compared at the end.
listing() { (cd "$prefix" && find . -printf '%y %m %p\n' | sort && find . -type f -exec sha256sum {} + | sort); }
listing >"$work/before"

echo "== what is installed"
(cd "$prefix" && find . -type f | sort)
extra_in_bin=$(cd "$prefix/bin" && ls | grep -vxE 'quorvel|quorvel-cli')
[ -z "$extra_in_bin" ] || fail "bin/ holds more than the programs: $extra_in_bin"
for name in pinyin_han pinyin_wei define_han define_py define_wei_han define_wei_py; do
  [ -f "$prefix/share/quorvel/$name.dll" ] || fail "share/quorvel/$name.dll is not installed"
done

echo "== quorvel-cli converts"
if ! run "$prefix/bin/quorvel-cli" -w "$files/names.txt" "$files/out.txt" 2>"$work/err"; then
  cat "$work/err"; fail "quorvel-cli failed"
fi
[ -s "$work/err" ] && { cat "$work/err"; fail "quorvel-cli said something on standard error"; }
printf 'Te-hua Liu\r\nKuo-fan Tseng\r\n' | cmp -s - "$files/out.txt" ||
  fail "first conversion: $(od -c "$files/out.txt" | head -3)"
user_data=$home/.local/share/quorvel
for name in define_han define_py define_wei_han define_wei_py; do
  cmp -s "$prefix/share/quorvel/$name.dll" "$user_data/$name.dll" ||
    fail "$name.dll was not copied into $user_data"
done
[ -e "$user_data/pinyin_han.dll" ] && fail "the mapping pair was copied, it is read from share/"
help=$(run "$prefix/bin/quorvel-cli" --help)
grep -qxF "  custom dictionaries    $user_data" <<<"$help" || fail "--help does not name $user_data"
grep -qxF "  Wade-Giles mapping     $prefix/share/quorvel" <<<"$help" ||
  fail "--help does not name $prefix/share/quorvel"

echo "== a dictionary entry lands in the user's folder"
written=$(run "$work/add_dictionary_entry" "$prefix/bin" wade-giles 刘 Lau) ||
  fail "adding the entry failed"
[ "$written" = "$user_data" ] || fail "the entry was written to '$written', not $user_data"
grep -q $'^Lau\r$' "$user_data/define_wei_py.dll" || fail "define_wei_py.dll lacks the new reading"
run "$prefix/bin/quorvel-cli" -w "$files/names.txt" "$files/out.txt" 2>"$work/err" ||
  { cat "$work/err"; fail "the second conversion failed"; }
printf 'Te-hua Lau\r\nKuo-fan Tseng\r\n' | cmp -s - "$files/out.txt" ||
  fail "the next conversion does not use the new entry: $(od -c "$files/out.txt" | head -3)"

if [ "$with_ui" = ON ]; then
  echo "== the window starts and closes"
  # A message box would wait for a click that never comes: the timeout ends it and fails.
  run QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1 QUORVEL_QUIT_AFTER_START=1 \
    timeout 120 "$prefix/bin/quorvel" >"$work/window.log" 2>&1
  status=$?
  if [ $status -ne 0 ]; then
    cat "$work/window.log"
    fail "quorvel ended with status $status (124: still open after 120 s, a message box?)"
  fi
  for name in config.db config1.dll; do
    [ -f "$home/.config/quorvel/$name" ] || fail "no $name in $home/.config/quorvel"
  done
fi

echo "== the prefix is unchanged"
listing >"$work/after"
diff "$work/before" "$work/after" || fail "files under the prefix changed"
find "$prefix" -newer "$work/before" | grep -q . && fail "something under the prefix was touched"

[ "$failures" -eq 0 ] || exit 1
echo "installed programs work for an ordinary user; the prefix is byte-identical"
