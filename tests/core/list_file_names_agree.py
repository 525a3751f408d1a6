#!/usr/bin/env python3
"""The list-file names are written down three times: the engine's kListFileNames, the generator's
LIST_FILE_NAMES and the install list of data/CMakeLists.txt (the six shipped files, the whole-name
pair is the user's own). They must name the same files in the same order."""
import os
import re
import sys

root = sys.argv[1]


def read(*parts):
    with open(os.path.join(root, *parts), encoding="utf-8") as f:
        return f.read()


engine_block = re.search(r"kListFileNames\[kListCount\]\s*=\s*\{(.*?)\};", read("core", "ListFiles.cpp"), re.S)
assert engine_block, "kListFileNames not found in core/ListFiles.cpp"
engine = re.findall(r'"([^"]+)"', engine_block.group(1))

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(root, "data"))
import make_list_files  # noqa: E402

generator = list(make_list_files.LIST_FILE_NAMES)

cmake_block = re.search(r"foreach\(name ([^)]*)\)\s*\n\s*list\(APPEND shipped_files", read("data", "CMakeLists.txt"))
assert cmake_block, "the shipped list-file loop not found in data/CMakeLists.txt"
installed = [n + ".dll" for n in cmake_block.group(1).split()]

assert len(engine) == 8, engine
assert generator == engine, (generator, engine)
assert installed == engine[:6], (installed, engine[:6])
print("list-file names agree:", ", ".join(engine))
