#!/usr/bin/env python3
"""quorvel-cli against the peer @napi-rs/pinyin and the floors, side by side in one run.

The 1,000,000-name set of make_names.py in GBK, UTF-8 and UTF-16LE, default options. Per round,
in an order turned every round: quorvel-cli as it runs (two threads for a large UTF-16 file on
two cores), the same with QUORVEL_THREADS=1, an earlier build (--before), floor_romanizer (GBK and
UTF-8: the least a converter can do), floor_copy (read whole, write the output's size), cat, and
the peer (peer_pinyin.js, from the UTF-8 names) with one call for the whole text and with one call
per name. Every run writes a new target, removed after it outside the timing (a run that replaces
the previous run's output waits while the file system drops it: 3 ms of a 30 ms run; --same-target
measures that way, every run writing over the one before). Medians of the wall time and of the CPU time (user + system) over the rounds, and each
program's time as a multiple of quorvel-cli's. The builds' outputs are compared byte for byte.
Prints Markdown.

Usage: peer_bench.py --cli BUILD/bin/quorvel-cli [--before OLD/bin/quorvel-cli]
                     [--names N] [--rounds R] [--same-target]
"""
import argparse
import filecmp
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

from engine_bench import make_sources, peer_ready
from floor_bench import timed

HERE = os.path.dirname(os.path.abspath(__file__))


def programs(args, bindir, src, work):
    """Per source: name -> argv (None where the program has no such run)."""
    def cli(path, threads=None):
        env = ["env", "-u", "QUORVEL_THREADS"] if threads is None else ["env", f"QUORVEL_THREADS={threads}"]
        return lambda enc, out: env + [path, f"--data-dir={os.path.dirname(path)}", src[enc], out]

    peer = os.path.join(HERE, "peer_pinyin.js")
    runs = {
        "quorvel-cli": cli(args.cli),
        "quorvel-cli, one thread": cli(args.cli, 1),
        "floor_romanizer": lambda enc, out: None if enc == "utf16" else
        [os.path.join(bindir, "floor_romanizer"), src[enc], out],
        "floor_copy": lambda enc, out: [os.path.join(bindir, "floor_copy"), src[enc], out,
                                        str(os.path.getsize(os.path.join(work, f"ref_{enc}.txt")))],
        "cat": lambda enc, out: ["sh", "-c", f'cat "{src[enc]}" > "{out}"'],
        "peer, whole text": lambda enc, out: ["node", peer, src["utf8"], out, "whole"] if enc == "utf8" else None,
        "peer, per name": lambda enc, out: ["node", peer, src["utf8"], out, "lines"] if enc == "utf8" else None,
    }
    if args.before:
        runs["before"] = cli(args.before)
    return runs


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", required=True)
    ap.add_argument("--before")
    ap.add_argument("--names", type=int, default=1_000_000)
    ap.add_argument("--rounds", type=int, default=9)
    ap.add_argument("--same-target", action="store_true",
                    help="every run writes over the one before (the file system's cost of that counted)")
    args = ap.parse_args()
    peer_ready()
    bindir = os.path.dirname(os.path.abspath(args.cli))
    load_start = os.getloadavg()[0]
    work = tempfile.mkdtemp(prefix="quorvel-peer-bench-")
    try:
        src = make_sources(work, args.names)
        runs = programs(args, bindir, src, work)
        # The reference outputs, and every build's output compared with them.
        for enc in src:
            ref = os.path.join(work, f"ref_{enc}.txt")
            timed(runs["quorvel-cli, one thread"](enc, ref))
            for name in ("quorvel-cli", "before"):
                if name in runs:
                    out = os.path.join(work, "check.txt")
                    timed(runs[name](enc, out))
                    if not filecmp.cmp(ref, out, shallow=False):
                        sys.exit(f"{name} writes other bytes than one thread for {enc}")
        walls, cpus = {}, {}
        names = list(runs)
        for rnd in range(args.rounds):
            order = names[rnd % len(names):] + names[:rnd % len(names)]
            for enc in src:
                for name in order:
                    # A new target for every run, removed after it outside the timing: no program
                    # waits while the file system drops the previous program's output.
                    out = os.path.join(work, "out.txt" if args.same_target else
                                       f"out_{rnd}_{enc}_{names.index(name)}.txt")
                    argv = runs[name](enc, out)
                    if argv is None:
                        continue
                    wall, cpu = timed(argv)
                    if not args.same_target:
                        os.unlink(out)
                    walls.setdefault((name, enc), []).append(wall)
                    cpus.setdefault((name, enc), []).append(cpu)
        print(f"{args.names:,} names, {args.rounds} interleaved rounds, medians; {os.cpu_count()} cores; "
              f"load average {load_start:.2f} at the start, {os.getloadavg()[0]:.2f} at the end")
        print()
        print("| Program | " + " | ".join(f"{e}: wall (× quorvel-cli) | {e}: CPU" for e in src) + " |")
        print("|---|" + "---|---|" * len(src))
        for name in names:
            cells = []
            for enc in src:
                if (name, enc) not in walls:
                    cells += ["", ""]
                    continue
                w = statistics.median(walls[(name, enc)])
                c = statistics.median(cpus[(name, enc)])
                q = statistics.median(walls[("quorvel-cli", enc)])
                cells += [f"{w * 1000:.0f} ms ({w / q:.2f}×)", f"{c * 1000:.0f} ms"]
            print(f"| {name} | " + " | ".join(cells) + " |")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
