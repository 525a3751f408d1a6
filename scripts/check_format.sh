#!/usr/bin/env bash
# Checks that every C++ file of the project is laid out as .clang-format says; prints the places
# that are not and how to mend them. The clang-format of Debian 12 (14) is the reference: another
# version may lay out a few constructs otherwise.
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"
format=$(command -v clang-format-14 || command -v clang-format || true)
if [ -z "$format" ]; then
  echo "check_format.sh: clang-format is not installed (apt-get install clang-format-14)" >&2
  exit 2
fi
mapfile -t files < <(find app bench core fuzz scripts tests ui -name '*.cpp' -o -name '*.h' | sort)
if ! "$format" --dry-run --Werror "${files[@]}"; then
  echo "Some files are not formatted; run: $format -i \$(find app bench core fuzz scripts tests ui -name '*.cpp' -o -name '*.h')" >&2
  exit 1
fi
echo "${#files[@]} files formatted as .clang-format says"
