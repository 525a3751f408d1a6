#!/usr/bin/env bash
# Every long option that quorvel-cli's help texts (the converter's and the dict command's) name
# must be described in the manual page quorvel-cli(1), as the page reads once formatted.
# Usage: check_man_options.sh QUORVEL_CLI PAGE
set -uo pipefail
program=$1 page=$2
command -v mandoc >/dev/null || { echo "FAIL: mandoc not found: install mandoc (scripts/deps.sh)" >&2; exit 1; }

help=$("$program" --help && "$program" dict --help) || { echo "FAIL: $program --help failed"; exit 1; }
options=$(grep -oE -- '--[a-z][a-z0-9-]*' <<<"$help" | sort -u)
[ -n "$options" ] || { echo "FAIL: no long options found in the help"; exit 1; }
# The formatted page, bold and underline overstrikes removed.
text=$(mandoc -T utf8 -O width=300 "$page" | sed 's/.\x08//g')

missing=()
for option in $options; do
  grep -qF -- "$option" <<<"$text" || missing+=("$option")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "FAIL: $(basename "$page") does not describe: ${missing[*]}"
  exit 1
fi
echo "$(basename "$page") describes all $(wc -w <<<"$options") long options of the help:" $options
