#!/usr/bin/env python3
"""Custom dictionary import, side by side in one run: `quorvel-cli dict import` of N entries
(N = 20,000 and 80,000 by default) into an empty dictionary and into one that already holds the
same keys (every entry an update), for quorvel-cli and, if given, an earlier build. Interleaved
rounds, medians, and the ratio of the largest size to the smallest (goal: 80,000 within 6x the
time of 20,000; linear would be 4x).

Then, for each build, a `dict list` of the same folder run again and again while the largest
update import runs: how long the longest of them took against the whole import (a list waits
for the folder's lock only while the import holds it) and against a list run alone.

Usage: dict_import_bench.py --cli BUILD/bin/quorvel-cli [--before OLD/bin/quorvel-cli]
                            [--sizes 20000,80000] [--rounds 5]
"""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

PAIR = ("define_han.dll", "define_py.dll")


def gb2312_characters():
    """The 3,755 characters of GB2312's first level, as text."""
    chars = []
    for lead in range(0xB0, 0xD8):
        for trail in range(0xA1, 0xFF):
            if lead == 0xD7 and trail > 0xF9:
                continue
            chars.append(bytes([lead, trail]).decode("gbk"))
    return chars


def write_import(path, count, seed=20261210):
    """`count` distinct two-character keys with a reading each, as KEY<TAB>READING lines."""
    chars = gb2312_characters()
    rng = random.Random(seed)
    keys = set()
    while len(keys) < count:
        keys.add(rng.choice(chars) + rng.choice(chars))
    with open(path, "w", encoding="utf-8") as f:
        for i, key in enumerate(sorted(keys, key=lambda k: rng.random())):
            f.write(f"{key}\tReading {i}\n")


def run(argv):
    start = time.perf_counter()
    proc = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    wall = time.perf_counter() - start
    if proc.returncode != 0:
        sys.exit(f"failed ({proc.returncode}): {' '.join(argv)}: {proc.stderr.decode()}")
    return wall


def fresh_folder(work, held=None):
    """An empty data folder, or one holding the pair of the folder `held`."""
    folder = tempfile.mkdtemp(dir=work)
    if held:
        for name in PAIR:
            shutil.copy(os.path.join(held, name), folder)
    return folder


def import_time(cli, folder, source):
    return run([cli, "dict", f"--data-dir={folder}", "import", source])


def list_beside_import(cli, work, held, source):
    """Runs `dict list` back to back while an update import of `source` runs in the same folder.
    Returns the import's wall time and the wall times of the lists that started during it."""
    folder = fresh_folder(work, held)
    lists = []
    start = time.perf_counter()
    importer = subprocess.Popen([cli, "dict", f"--data-dir={folder}", "import", source],
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    while importer.poll() is None:
        lists.append(run([cli, "dict", f"--data-dir={folder}", "list"]))
    wall = time.perf_counter() - start
    if importer.returncode != 0:
        sys.exit(f"import failed: {importer.stderr.read().decode()}")
    shutil.rmtree(folder)
    return wall, lists


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", required=True)
    ap.add_argument("--before")
    ap.add_argument("--sizes", default="20000,80000")
    ap.add_argument("--rounds", type=int, default=5)
    args = ap.parse_args()
    sizes = [int(s) for s in args.sizes.split(",")]
    builds = [("now", os.path.abspath(args.cli))]
    if args.before:
        builds.append(("before", os.path.abspath(args.before)))

    work = tempfile.mkdtemp(prefix="quorvel-dict-bench-")
    try:
        sources, held = {}, {}
        for n in sizes:
            sources[n] = os.path.join(work, f"import_{n}.tsv")
            write_import(sources[n], n)
            held[n] = fresh_folder(work)
            import_time(builds[0][1], held[n], sources[n])  # the pair an update import starts from

        times = {}
        for _ in range(args.rounds):
            for name, cli in builds:
                for n in sizes:
                    for kind in ("into empty", "all updates"):
                        folder = fresh_folder(work, held[n] if kind == "all updates" else None)
                        times.setdefault((name, kind, n), []).append(import_time(cli, folder, sources[n]))
                        shutil.rmtree(folder)

        with open("/proc/loadavg") as f:
            load = f.read().split()[0]
        print(f"{os.cpu_count()} cores, load average {load} at the end, {args.rounds} rounds, medians\n")
        print("| build | import | " + " | ".join(f"{n:,} entries" for n in sizes) +
              f" | {sizes[-1]:,} / {sizes[0]:,} |")
        print("|---|---|" + "---|" * len(sizes) + "---|")
        for name, _ in builds:
            for kind in ("into empty", "all updates"):
                medians = [statistics.median(times[(name, kind, n)]) for n in sizes]
                cells = " | ".join(f"{m * 1000:.0f} ms" for m in medians)
                print(f"| {name} | {kind} | {cells} | {medians[-1] / medians[0]:.1f}x |")

        n = sizes[-1]
        print(f"\n`dict list` run back to back beside an update import of {n:,} entries:\n")
        print("| build | import | lists during it | longest list | median list | a list alone |")
        print("|---|---|---|---|---|---|")
        for name, cli in builds:
            alone = statistics.median(run([cli, "dict", f"--data-dir={held[n]}", "list"]) for _ in range(3))
            wall, lists = list_beside_import(cli, work, held[n], sources[n])
            print(f"| {name} | {wall * 1000:.0f} ms | {len(lists)} | {max(lists) * 1000:.0f} ms | "
                  f"{statistics.median(lists) * 1000:.0f} ms | {alone * 1000:.0f} ms |")
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
