#!/usr/bin/env python3
"""The build step that writes the list files refreshes the mapping pair and never touches a
user's dictionary pair, not even half of one; the shipped copies (--shipped) always match the rows."""
import os
import subprocess
import sys
import tempfile

source = sys.argv[1]
script = os.path.join(source, "data", "make_list_files.py")
wade = os.path.join(source, "data", "wade_giles_rows.tsv")
compounds = os.path.join(source, "data", "compound_surname_rows.tsv")


def run(out, *flags):
    subprocess.run([sys.executable, script, *flags, wade, compounds, out], check=True)


def read(path):
    with open(path, "rb") as f:
        return f.read()


with tempfile.TemporaryDirectory() as out:
    run(out)
    fresh = {n: read(os.path.join(out, n)) for n in os.listdir(out) if n.endswith(".dll")}
    assert len(fresh) == 8, sorted(fresh)
    assert fresh["define_name_han.dll"] == fresh["define_name_py.dll"] == b"", "the whole names start empty"
    assert fresh["pinyin_han.dll"].endswith(b"\r\n") and b"\r\n\r\n" not in fresh["pinyin_han.dll"]
    # The user edits one dictionary and clears half of the other; the mapping is damaged.
    with open(os.path.join(out, "define_han.dll"), "wb") as f:
        f.write("赵\r\n".encode("gbk"))
    with open(os.path.join(out, "define_py.dll"), "wb") as f:
        f.write(b"chiu\r\n")
    os.remove(os.path.join(out, "define_wei_py.dll"))
    with open(os.path.join(out, "define_name_han.dll"), "wb") as f:
        f.write("曾参\r\n".encode("gbk"))
    with open(os.path.join(out, "define_name_py.dll"), "wb") as f:
        f.write(b"zeng shen\r\n")
    with open(os.path.join(out, "pinyin_wei.dll"), "wb") as f:
        f.write(b"damaged\r\n")
    run(out)
    assert read(os.path.join(out, "define_han.dll")) == "赵\r\n".encode("gbk")
    assert read(os.path.join(out, "define_py.dll")) == b"chiu\r\n"
    assert not os.path.exists(os.path.join(out, "define_wei_py.dll")), "half a pair is not filled up"
    assert read(os.path.join(out, "define_wei_han.dll")) == fresh["define_wei_han.dll"]
    assert read(os.path.join(out, "define_name_py.dll")) == b"zeng shen\r\n", "taught names are the user's"
    assert read(os.path.join(out, "pinyin_wei.dll")) == fresh["pinyin_wei.dll"], "the mapping is refreshed"
    # The shipped copies are the build's own: whatever happened to them, they match the rows again.
    run(out, "--shipped")
    for name, data in fresh.items():
        if not name.startswith("define_name_"):  # not shipped: an installed user starts without
            assert read(os.path.join(out, name)) == data, name + " is not the shipped content"
print("user dictionaries kept, mapping refreshed")
