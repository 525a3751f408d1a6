#!/usr/bin/env bash
# Checks manual pages: groff (as man formats them) and mandoc's linter must have nothing to say,
# and the title line must name the project's version.  Usage: check_man.sh VERSION PAGE...
set -uo pipefail
version=$1
shift
for tool in groff:groff-base mandoc:mandoc; do
  if ! command -v "${tool%%:*}" >/dev/null; then
    echo "FAIL: ${tool%%:*} not found: install ${tool#*:} (scripts/deps.sh)" >&2
    exit 1
  fi
done

failures=0
for page in "$@"; do
  messages=$(LC_ALL=C.UTF-8 groff -man -t -Tutf8 -K utf8 -ww -z "$page" 2>&1)
  if [ $? -ne 0 ] || [ -n "$messages" ]; then
    echo "FAIL: groff on $page:"; echo "$messages"; failures=$((failures + 1))
  fi
  # -W style: everything down to style hints; the exit status only counts warnings and worse.
  messages=$(mandoc -T lint -W style "$page" 2>&1)
  if [ -n "$messages" ]; then
    echo "FAIL: mandoc -T lint on $page:"; echo "$messages"; failures=$((failures + 1))
  fi
  if ! grep -q "^\.TH .* \"Quorvel $version\"" "$page"; then
    echo "FAIL: the .TH line of $page does not name Quorvel $version:"
    grep '^\.TH' "$page"
    failures=$((failures + 1))
  fi
done
[ "$failures" -eq 0 ] || exit 1
echo "$# pages format cleanly"
