#!/usr/bin/env python3
"""Lists every traditional character of the rows (Unihan kSimplifiedVariant) whose first reading
differs from that of its simplified form, and fails unless each one is a listed exception with its
reason in data/simplified_reading_exceptions.tsv, or when an exception no longer differs.
Exit 77 (skipped) where Debian's Unihan_Variants.txt (package unicode-data) is absent."""
import bz2
import os
import sys

source = sys.argv[1]
sys.path.insert(0, os.path.join(source, "data"))
from rows import read_rows  # noqa: E402

variants = "/usr/share/unicode/Unihan_Variants.txt.bz2"
if not os.path.exists(variants):
    print("skipped: " + variants + " is not here")
    sys.exit(77)

first = {}
for _, ch, reading, _ in read_rows(os.path.join(source, "data", "char_rows.tsv"), 4):
    first[ch] = reading.split("/")[0]

differ = []
with bz2.open(variants, "rt", encoding="utf-8") as f:
    for line in f:
        if not line.startswith("U+"):
            continue
        cp, field, value = line.rstrip("\n").split("\t", 2)
        if field != "kSimplifiedVariant":
            continue
        traditional = chr(int(cp[2:], 16))
        for simplified in (chr(int(v[2:], 16)) for v in value.split()):
            if simplified == traditional or traditional not in first or simplified not in first:
                continue
            if first[traditional] != first[simplified]:
                differ.append((traditional, simplified))

exceptions_path = os.path.join(source, "data", "simplified_reading_exceptions.tsv")
exceptions = {(t, s): reason for t, s, reason in read_rows(exceptions_path, 3)}

failures = 0
print(f"{len(differ)} traditional characters read first unlike their simplified form:")
for t, s in differ:
    reason = exceptions.get((t, s))
    print(f"  {t} {first[t]}  {s} {first[s]}  " + (f"(exception: {reason})" if reason else "NOT AN EXCEPTION"))
    if not reason:
        failures += 1
for t, s in sorted(set(exceptions) - set(differ)):
    print(f"  stale exception: {t} {s} now read alike, or no longer rows")
    failures += 1
if failures:
    print(f"{failures} problems: make the rows agree (data/gen_rows.py) or list a justified exception")
    sys.exit(1)
print("every difference is a listed exception")
