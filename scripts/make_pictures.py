#!/usr/bin/env python3
"""Makes the main window's pictures (ui/resources/Image1.jpg, Image2.jpg, Image3.jpg, each also
at twice the size as Image1@2x.jpg and so on). The window icon is the menu entry's
(dist/icons).

The pictures are committed; run this only to change them. It compiles the small Qt drawing tool
scripts/make_pictures.cpp (needs g++, pkg-config, Qt 6 Gui, libjpeg and the Noto CJK fonts),
runs it without a display and checks the sizes of what it wrote.

    python3 scripts/make_pictures.py [OUTPUT_DIR]
"""
import os
import shlex
import struct
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SIZES = {"Image1.jpg": (164, 21), "Image2.jpg": (68, 19), "Image3.jpg": (70, 18),
         "Image1@2x.jpg": (328, 42), "Image2@2x.jpg": (136, 38), "Image3@2x.jpg": (140, 36)}


def jpeg_size(path):
    """Width and height from the first start-of-frame marker."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] != b"\xff\xd8":
        raise ValueError(path + " is no JPEG")
    i = 2
    while i + 9 < len(data):
        if data[i] != 0xFF:
            raise ValueError(path + ": damaged marker")
        marker = data[i + 1]
        length = struct.unpack(">H", data[i + 2:i + 4])[0]
        if marker in (0xC0, 0xC1, 0xC2):
            height, width = struct.unpack(">HH", data[i + 5:i + 9])
            return width, height
        i += 2 + length
    raise ValueError(path + ": no frame header")


def main():
    out = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else os.path.join(ROOT, "ui", "resources")
    os.makedirs(out, exist_ok=True)
    flags = subprocess.run(["pkg-config", "--cflags", "--libs", "Qt6Gui", "libjpeg"],
                           check=True, capture_output=True, text=True).stdout
    with tempfile.TemporaryDirectory() as tmp:
        tool = os.path.join(tmp, "make_pictures")
        subprocess.run(["g++", "-std=c++20", "-O1", "-fPIC",
                        os.path.join(ROOT, "scripts", "make_pictures.cpp"), "-o", tool]
                       + shlex.split(flags), check=True)
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        subprocess.run([tool, out], check=True, env=env)
    for name, size in SIZES.items():
        got = jpeg_size(os.path.join(out, name))
        if got != size:
            sys.exit(f"{name}: {got[0]} x {got[1]}, expected {size[0]} x {size[1]}")
    print("pictures written to", out)


if __name__ == "__main__":
    main()
