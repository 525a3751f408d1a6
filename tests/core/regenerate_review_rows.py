#!/usr/bin/env python3
"""Regenerates data/review_rows.tsv into a scratch folder from the committed table rows, the
reference tables and Unihan, and compares it byte for byte with the committed file. Exit 77
(skipped) where Debian's Unihan files (package unicode-data) are absent."""
import filecmp
import os
import subprocess
import sys
import tempfile

source = sys.argv[1]
unihan = "/usr/share/unicode/Unihan_Readings.txt.bz2"
variants = "/usr/share/unicode/Unihan_Variants.txt.bz2"
for path in (unihan, variants):
    if not os.path.exists(path):
        print("skipped: " + path + " is not here")
        sys.exit(77)
data = os.path.join(source, "data")
with tempfile.TemporaryDirectory() as out:
    subprocess.run([sys.executable, os.path.join(data, "gen_review_rows.py"), "--unihan", unihan,
                    "--variants", variants, "--reference", os.path.join(data, "reference"),
                    "--rows", data, "--out", out], check=True)
    if not filecmp.cmp(os.path.join(out, "review_rows.tsv"), os.path.join(data, "review_rows.tsv"), shallow=False):
        print("differs from the committed review_rows.tsv")
        sys.exit(1)
print("identical")
