#!/usr/bin/env bash
# Every long option that quorvel-cli --help names is described in the manual page.
# Usage: check_man_options.sh QUORVEL_CLI PAGE
set -uo pipefail
cli=$1
page=$2
missing=0
for option in $("$cli" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
  # The page writes each hyphen as \-.
  if ! grep -qF -- "${option//-/\\-}" "$page"; then
    echo "FAIL: $option is in --help but not in $page"
    missing=$((missing + 1))
  fi
done
[ "$missing" -eq 0 ] || exit 1
echo "every --help option is in the manual page"
