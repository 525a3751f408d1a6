#!/usr/bin/env python3
"""The rows of the GBK characters of U+4E00..U+9FFF, the rows the table had before the other
blocks joined, are byte for byte what they were (their SHA-256, taken from that table), and every
other row is counted per block and printed."""
import hashlib
import os
import sys

source = sys.argv[1]
sys.path.insert(0, os.path.join(source, "data"))
from gen_rows import IDEOGRAPH_BLOCKS, block_of  # noqa: E402

EARLIER_ROWS = 20892
EARLIER_SHA256 = "60ffc482e3ccf0629385bfbcbbff932a815df9d2aa6dc155f58ffdc8cce7542d"


def is_gbk(ch):
    try:
        return len(ch.encode("gbk")) == 2
    except UnicodeEncodeError:
        return False


earlier, added = [], {}
with open(os.path.join(source, "data", "char_rows.tsv"), encoding="utf-8") as f:
    for line in f:
        if line.startswith("#"):
            continue
        cp = int(line.split("\t", 1)[0][2:], 16)
        if 0x4E00 <= cp <= 0x9FFF and is_gbk(chr(cp)):
            earlier.append(line)
        else:
            block = block_of(cp)
            if block is None:
                print(f"U+{cp:04X} lies in no ideograph block")
                sys.exit(1)
            added[block] = added.get(block, 0) + 1

digest = hashlib.sha256("".join(earlier).encode("utf-8")).hexdigest()
print(f"rows of GBK's unified ideographs: {len(earlier)} (earlier {EARLIER_ROWS}), SHA-256 {digest}")
for _, _, name in IDEOGRAPH_BLOCKS:
    print(f"rows added, {name}: {added.get(name, 0)}")
print(f"rows added in all: {sum(added.values())}")
if len(earlier) != EARLIER_ROWS or digest != EARLIER_SHA256:
    print("the rows of GBK's unified ideographs changed")
    sys.exit(1)
print("no earlier row changed")
