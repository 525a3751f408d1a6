#!/usr/bin/env bash
# Checks the menu entry beyond its validator: it claims no file type (Quorvel must never become
# the desktop's program for text files), yet still takes a file handed to it, and it shows the
# installed icon.  Usage: check_desktop_entry.sh ENTRY APP_ID
set -uo pipefail
entry=$1 id=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

mime=$(grep -E '^MimeType=' "$entry")
[ -z "$mime" ] || fail "the entry claims file types: $mime"
exec_line=$(sed -n 's/^Exec=//p' "$entry")
[[ "$exec_line" =~ ^quorvel\ %[fF]$ ]] || fail "Exec is '$exec_line', not 'quorvel %f'"
icon=$(sed -n 's/^Icon=//p' "$entry")
[ "$icon" = "$id" ] || fail "Icon is '$icon', not $id"

[ "$failures" -eq 0 ] || exit 1
echo "$(basename "$entry"): no file types claimed, takes a file, icon $id"
