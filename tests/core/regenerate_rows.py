#!/usr/bin/env python3
"""Regenerates the rows from Unihan into a scratch folder and compares them byte for byte with the
committed files. Exit 77 (skipped) where Debian's Unihan files (package unicode-data) are absent; the
reference tables are part of the tree (data/reference)."""
import filecmp
import os
import subprocess
import sys
import tempfile

source = sys.argv[1]
unihan = "/usr/share/unicode/Unihan_Readings.txt.bz2"
variants = "/usr/share/unicode/Unihan_Variants.txt.bz2"
reference = os.path.join(source, "data", "reference")
for path in (unihan, variants):
    if not os.path.exists(path):
        print("skipped: " + path + " is not here")
        sys.exit(77)
with tempfile.TemporaryDirectory() as out:
    subprocess.run([sys.executable, os.path.join(source, "data", "gen_rows.py"),
                    "--unihan", unihan, "--variants", variants, "--reference", reference, "--out", out], check=True)
    bad = [f for f in ("char_rows.tsv", "surname_rows.tsv", "wade_giles_rows.tsv", "compound_surname_rows.tsv")
           if not filecmp.cmp(os.path.join(out, f), os.path.join(source, "data", f), shallow=False)]
    if bad:
        print("differ from the committed rows:", ", ".join(bad))
        sys.exit(1)
print("identical")
