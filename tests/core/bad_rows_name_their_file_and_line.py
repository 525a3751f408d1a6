#!/usr/bin/env python3
"""The build steps that read the row files stop on a bad row with FILE:LINE and the reason."""
import os
import subprocess
import sys
import tempfile

source = sys.argv[1]
data = os.path.join(source, "data")


def run(script, *args):
    return subprocess.run([sys.executable, os.path.join(data, script), *args],
                          capture_output=True, text=True)


with tempfile.TemporaryDirectory() as tmp:
    def write(name, text):
        path = os.path.join(tmp, name)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        return path

    # A reference folder whose given-name table has a row with one field too many.
    with open(os.path.join(data, "reference", "given_name_readings.tsv"), encoding="utf-8") as f:
        lines = f.read().splitlines()
    lines[2] += "\textra"
    given = write("given_name_readings.tsv", "\n".join(lines) + "\n")

    chars = write("chars.tsv", "# comment\nU+4E00\t一\tyi\tkMandarin\n\nU+4E01\t丁\tding\n")
    surnames = write("surnames.tsv", "# c\n😀\tzeng\n")
    wade = write("wade.tsv", "a\ta\nai\t\n")
    cases = [
        ("a missing field, counted after a comment and a blank line",
         ("gen_table_cpp.py", chars, os.path.join(data, "surname_rows.tsv"), os.path.join(tmp, "out.cpp")),
         chars + ":4: expected 4 tab-separated fields, found 3"),
        ("a key that is no GBK character",
         ("gen_table_cpp.py", os.path.join(data, "char_rows.tsv"), surnames, os.path.join(tmp, "out.cpp")),
         surnames + ":2: '😀' has no GBK code"),
        ("an empty field",
         ("make_list_files.py", wade, os.path.join(data, "compound_surname_rows.tsv"), tmp),
         wade + ":2: empty field"),
        ("a reference table row longer than its header",
         ("gen_rows.py", "--unihan", write("unihan.txt", ""), "--reference", tmp, "--out", tmp),
         given + ":3: expected 9 tab-separated fields, found 10"),
    ]
    for why, args, message in cases:
        result = run(*args)
        assert result.returncode != 0, why
        assert result.stderr.strip() == message, f"{why}: {result.stderr!r}"
print("bad rows are reported with their file and line")
