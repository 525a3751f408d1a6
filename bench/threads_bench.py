#!/usr/bin/env python3
"""quorvel-cli on one thread, on two, and an earlier build, side by side in one run.

The names of make_names.py (default 1,000,000) as GBK, UTF-8 and UTF-16LE with a mark, converted
with default options by `--cli` with QUORVEL_THREADS=1 and =2 and by `--before` (an earlier build,
which may not know the variable); interleaved rounds, medians of wall time and of CPU time (user +
system of the process, from wait4). Every output is compared with the earlier build's byte for
byte (SHA-256); a difference ends the bench with status 1. `--sizes` adds small sources (the first
N names) to find where a second thread starts to pay. Prints Markdown tables.

Usage: threads_bench.py --cli BUILD/bin/quorvel-cli --before OLD/bin/quorvel-cli
                        [--names N] [--rounds R] [--sizes 2000,8000,...]
"""
import argparse
import os
import shutil
import statistics
import sys
import tempfile

import engine_bench
from floor_bench import timed


def run(argv, threads):
    env = dict(os.environ)
    env.pop("QUORVEL_THREADS", None)
    if threads:
        env["QUORVEL_THREADS"] = threads
    return timed(argv, env)


def make_sources(work, names, sizes):
    made = engine_bench.make_sources(work, names)
    sources = {"GBK": made["gbk"], "UTF-8": made["utf8"], "UTF-16LE": made["utf16"]}
    with open(made["gbk"], "rb") as f:
        lines = f.read().split(b"\n")
    for n in sizes:
        path = os.path.join(work, f"gbk-{n}.txt")
        with open(path, "wb") as f:
            f.write(b"\n".join(lines[:n]) + b"\n")
        sources[f"GBK, {n:,} names"] = path
    return sources


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", required=True)
    ap.add_argument("--before", required=True)
    ap.add_argument("--names", type=int, default=1_000_000)
    ap.add_argument("--rounds", type=int, default=9)
    ap.add_argument("--sizes", default="")
    args = ap.parse_args()
    sizes = [int(s) for s in args.sizes.split(",") if s]
    builds = [("before", args.before, None), ("one thread", args.cli, "1"),
              ("two threads", args.cli, "2"), ("default", args.cli, None)]
    work = tempfile.mkdtemp(prefix="quorvel-threads-bench-")
    try:
        sources = make_sources(work, args.names, sizes)
        out = os.path.join(work, "out.txt")
        for key, path in sources.items():
            sums = {}
            for name, cli, threads in builds:
                run([cli, path, out], threads)
                sums[name] = engine_bench.digest(out)
            if len(set(sums.values())) != 1:
                print(f"outputs differ for {key}: {sums}")
                sys.exit(1)
        print(f"outputs identical: {len(sources)} sources x {len(builds)} runs")
        load = os.getloadavg()
        walls, cpus = {}, {}
        for r in range(args.rounds):
            for key, path in sources.items():
                order = builds if r % 2 == 0 else builds[::-1]
                for name, cli, threads in order:
                    wall, cpu = run([cli, path, out], threads)
                    walls.setdefault((key, name), []).append(wall)
                    cpus.setdefault((key, name), []).append(cpu)
        load_end = os.getloadavg()
        print(f"\n{os.cpu_count()} cores; load average {load[0]:.2f} at the start, "
              f"{load_end[0]:.2f} at the end; {args.rounds} interleaved rounds, medians\n")
        names = [b[0] for b in builds]
        print("| Source | " + " | ".join(f"{n}: wall / CPU" for n in names) +
              " | two/one wall | two/before wall |")
        print("|---" * (len(names) + 3) + "|")
        for key in sources:
            w = {n: statistics.median(walls[(key, n)]) for n in names}
            c = {n: statistics.median(cpus[(key, n)]) for n in names}
            cells = " | ".join(f"{w[n] * 1000:.0f} / {c[n] * 1000:.0f} ms" for n in names)
            print(f"| {key} | {cells} | {w['two threads'] / w['one thread']:.2f} | "
                  f"{w['two threads'] / w['before']:.2f} |")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
