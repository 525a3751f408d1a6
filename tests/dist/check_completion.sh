#!/usr/bin/env bash
# Loads the bash completion for quorvel-cli ($1) the way bash-completion does and checks what it
# offers for a few command lines.
set -uo pipefail
file=$1
lib=/usr/share/bash-completion/bash_completion
if [ ! -r "$lib" ]; then
  echo "FAIL: $lib not found: install bash-completion (scripts/deps.sh)" >&2
  exit 1
fi
bash -n "$file" || { echo "FAIL: $file is no valid bash" >&2; exit 1; }

# shellcheck source=/dev/null
source "$lib"
# shellcheck source=/dev/null
source "$file"
[ "$(complete -p quorvel-cli 2>/dev/null)" = "complete -F _quorvel_cli quorvel-cli" ] ||
  { echo "FAIL: $file does not register _quorvel_cli for quorvel-cli" >&2; exit 1; }
# compopt works only inside a real completion; record what it was asked instead.
nospace=no
compopt() { [ "$*" = "-o nospace" ] && nospace=yes; return 0; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
mkdir lists
touch names.txt notes.txt

failures=0
# check EXPECTED LINE WORD... : completing LINE, split into WORDs as bash splits it (a "=" is a word
# of its own), offers EXPECTED (sorted, space-separated).
check() {
  local expected=$1 line=$2
  shift 2
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMP_LINE=$line
  COMP_POINT=${#line}
  COMPREPLY=()
  nospace=no
  _quorvel_cli quorvel-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | LC_ALL=C sort | tr '\n' ' ')
  got=${got% }
  if [ "$got" != "$expected" ]; then
    echo "FAIL: '$line' offers '$got', expected '$expected'"
    failures=$((failures + 1))
  fi
}

check "--all-readings" "quorvel-cli --al" quorvel-cli --al
check "--separator=" "quorvel-cli --se" quorvel-cli --se
[ "$nospace" = yes ] || { echo "FAIL: no space must follow '--separator='"; failures=$((failures + 1)); }
check "--add= --all-readings --column= --data-dir= --format= --help --no-header --review= --separator= --sheet= --table= --umlaut= --version --wade-giles --wait=" \
  "quorvel-cli -w --" quorvel-cli -w --
check "hyphen none space" "quorvel-cli -s " quorvel-cli -s ""
check "space" "quorvel-cli --separator=sp" quorvel-cli --separator = sp
check "0 1 2 3 4 5 6 7 8 9 citation initials passport" "quorvel-cli -a --format=" quorvel-cli -a --format = ""
check "csv tsv xlsx" "quorvel-cli --table=" quorvel-cli --table = ""
check "surname,given" "quorvel-cli --add=surname,g" quorvel-cli --add = surname,g
check "surname,given,review" "quorvel-cli --add=surname,given,r" quorvel-cli --add = surname,given,r
check "" "quorvel-cli --column " quorvel-cli --column ""
check "passport" "quorvel-cli -f pa" quorvel-cli -f pa
check "u v yu ü" "quorvel-cli --umlaut=" quorvel-cli --umlaut = ""
check "yu" "quorvel-cli --umlaut=y" quorvel-cli --umlaut = y
check "--umlaut=" "quorvel-cli --um" quorvel-cli --um
check "7" "quorvel-cli -f 7" quorvel-cli -f 7
check "lists" "quorvel-cli --data-dir=" quorvel-cli --data-dir = ""
check "lists names.txt notes.txt" "quorvel-cli -f 1 " quorvel-cli -f 1 ""
check "names.txt" "quorvel-cli -w na" quorvel-cli -w na
check "" "quorvel-cli --help " quorvel-cli --help ""
check "dict lists names.txt notes.txt" "quorvel-cli " quorvel-cli ""
check "dict" "quorvel-cli di" quorvel-cli di
check "add clear export import list remove" "quorvel-cli dict " quorvel-cli dict ""
check "add clear export import list remove" "quorvel-cli dict -w --data-dir=lists " quorvel-cli dict -w --data-dir = lists ""
check "add clear export import list remove" "quorvel-cli dict --wait 5 " quorvel-cli dict --wait 5 ""
check "--data-dir= --help --wade-giles --wait=" "quorvel-cli dict --" quorvel-cli dict --
check "" "quorvel-cli --wait=" quorvel-cli --wait = ""
check "lists" "quorvel-cli dict --data-dir=" quorvel-cli dict --data-dir = ""
check "lists names.txt notes.txt" "quorvel-cli dict -w import " quorvel-cli dict -w import ""
check "" "quorvel-cli dict import names.txt " quorvel-cli dict import names.txt ""
check "" "quorvel-cli dict add " quorvel-cli dict add ""
check "list" "quorvel-cli dict --data-dir lists li" quorvel-cli dict --data-dir lists li

[ "$failures" -eq 0 ] || exit 1
echo "completion offers what was expected"
