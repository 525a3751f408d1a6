"""The one reader of the tab-separated row files: data/*.tsv and data/reference/*.tsv.

A line starting with "#" is a comment and a blank line is skipped. A bad row stops the caller
with "FILE:LINE: reason" (SystemExit), so a broken table is found by its place, not by a
traceback further on.
"""


def _lines(path):
    """(line number, text) of every row line of the file."""
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if line.startswith("#") or not line.strip():
                continue
            yield number, line


def fail(path, number, reason):
    raise SystemExit(f"{path}:{number}: {reason}")


def read_rows(path, columns, check=None):
    """The rows of a headerless row file, each a list of exactly `columns` fields.
    `check(fields)` may return a reason to refuse the row."""
    rows = []
    for number, line in _lines(path):
        fields = line.split("\t")
        if len(fields) != columns:
            fail(path, number, f"expected {columns} tab-separated fields, found {len(fields)}")
        if any(not f for f in fields):
            fail(path, number, "empty field")
        reason = check(fields) if check else None
        if reason:
            fail(path, number, reason)
        rows.append(fields)
    return rows


def read_table(path):
    """The rows of a reference table as dicts: the first row line names the columns; every row
    has exactly as many fields as there are names (empty ones allowed)."""
    lines = list(_lines(path))
    if not lines:
        fail(path, 1, "no header line naming the columns")
    header = lines[0][1].split("\t")
    rows = []
    for number, line in lines[1:]:
        fields = line.split("\t")
        if len(fields) != len(header):
            fail(path, number, f"expected {len(header)} tab-separated fields, found {len(fields)}")
        rows.append(dict(zip(header, fields)))
    return rows
