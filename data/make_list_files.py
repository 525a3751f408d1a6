#!/usr/bin/env python3
"""Build step: writes the installed list files (GBK, CR LF) beside the executables.

Usage: make_list_files.py [--shipped] WADE_GILES_ROWS COMPOUND_SURNAME_ROWS OUTDIR
pinyin_han.dll / pinyin_wei.dll (the Wade-Giles mapping) are ours and always rewritten.
define_*.dll are the user's custom dictionaries: pre-filled with the compound surnames only where
no such file exists yet, so a rebuild never overwrites a user's entries. The whole-name pair
(define_name_*.dll) starts empty beside the executables and is not shipped: an installed user's
folder gets it with the first name taught.
--shipped: OUTDIR holds the copies that are installed into share/quorvel, which nobody edits;
every file there is kept equal to the rows.
"""
import os
import sys

from rows import read_rows


def lines(items):
    return b"".join(item.encode("gbk") + b"\r\n" for item in items)


def write_if_changed(path, data):
    try:
        with open(path, "rb") as f:
            if f.read() == data:
                return
    except FileNotFoundError:
        pass
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


def write_pair_if_absent(outdir, names, contents):
    """A dictionary pair is written only where neither of its files exists: half a pair would
    no longer match line for line."""
    paths = [os.path.join(outdir, n) for n in names]
    if any(os.path.lexists(p) for p in paths):
        return
    for path, data in zip(paths, contents):
        with open(path + ".tmp", "wb") as f:
            f.write(data)
        os.replace(path + ".tmp", path)


# The list files, in the order of the engine's kListFileNames (core/ListFiles.cpp); the test
# data.list_file_names_agree checks that this list, the engine's and the install list in
# data/CMakeLists.txt name the same files.
LIST_FILE_NAMES = ("pinyin_han.dll", "pinyin_wei.dll", "define_han.dll", "define_py.dll",
                   "define_wei_han.dll", "define_wei_py.dll", "define_name_han.dll",
                   "define_name_py.dll")


def main():
    args = sys.argv[1:]
    shipped = "--shipped" in args
    if shipped:
        args.remove("--shipped")
    wade, compounds, outdir = args
    os.makedirs(outdir, exist_ok=True)
    mapping = read_rows(wade, 2)
    han_map, wei_map, define_han, define_py, define_wei_han, define_wei_py, name_han, name_py = \
        LIST_FILE_NAMES
    write_if_changed(os.path.join(outdir, han_map), lines(r[0] for r in mapping))
    write_if_changed(os.path.join(outdir, wei_map), lines(r[1] for r in mapping))
    surnames = read_rows(compounds, 3)
    pairs = (((define_han, define_py),
              (lines(r[0] for r in surnames), lines(r[1] for r in surnames))),
             ((define_wei_han, define_wei_py),
              (lines(r[0] for r in surnames), lines(r[2] for r in surnames))))
    for names, contents in pairs:
        if shipped:
            for name, data in zip(names, contents):
                write_if_changed(os.path.join(outdir, name), data)
        else:
            write_pair_if_absent(outdir, names, contents)
    if shipped:
        return
    write_pair_if_absent(outdir, (name_han, name_py), (b"", b""))
    stamp = os.path.join(outdir, ".list-files.stamp")
    with open(stamp, "w") as f:
        f.write("list files written\n")


if __name__ == "__main__":
    main()
