#!/usr/bin/env python3
"""quorvel-cli before and after a change of the per-name path or the encoding detection.

1. Same output: the 1,000,000-name sets of make_names.py in GBK and UTF-8, and the GBK set with a
   name outside GB2312 on its first line, converted by both builds in every option set (format
   0..9, passport, initials, citation; first or all readings; hyphen, space or no separator;
   Hanyu Pinyin in each of the four ü spellings, and Wade-Giles). The outputs are compared by
   SHA-256; any difference is printed and the exit status is 1.
2. Time: default options, interleaved rounds, medians, the ratio after/before. Prints Markdown.

Usage: speed_bench.py --cli BUILD/bin/quorvel-cli --before OLD/bin/quorvel-cli
                      [--names N] [--rounds R] [--skip-compare]
"""
import argparse
import hashlib
import itertools
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

from chars_bench import run as timed  # one process, its wall time; a failure ends the bench

HERE = os.path.dirname(os.path.abspath(__file__))
FORMATS = [str(n) for n in range(10)] + ["passport", "initials", "citation"]


def option_sets():
    spellings = [["--umlaut=" + u] for u in ("v", "yu", "u", "ü")] + [["--wade-giles"]]
    for fmt, readings, sep, spelling in itertools.product(FORMATS, ([], ["--all-readings"]),
                                                          ("hyphen", "space", "none"), spellings):
        yield ["--format=" + fmt, "--separator=" + sep] + readings + spelling


def digest(argv, out):
    timed(argv)
    with open(out, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", required=True)
    ap.add_argument("--before", required=True)
    ap.add_argument("--names", type=int, default=1_000_000)
    ap.add_argument("--rounds", type=int, default=9)
    ap.add_argument("--skip-compare", action="store_true")
    args = ap.parse_args()
    work = tempfile.mkdtemp(prefix="quorvel-speed-bench-")
    try:
        src = {k: os.path.join(work, f"{k}.txt") for k in ("gbk", "utf8", "utf16le", "gbk-wide-first")}
        subprocess.run([sys.executable, os.path.join(HERE, "make_names.py"), str(args.names), src["gbk"],
                        src["utf8"]], check=True)
        with open(src["gbk-wide-first"], "wb") as f:  # 镕 is in GBK, not in GB2312
            f.write("朱镕基\r\n".encode("gbk"))
            with open(src["gbk"], "rb") as g:
                f.write(g.read())
        with open(src["utf8"], "rb") as f, open(src["utf16le"], "wb") as g:
            g.write("\ufeff".encode("utf-16-le") + f.read().decode("utf-8").encode("utf-16-le"))
        builds = {"before": args.before, "after": args.cli}
        differ = 0
        if not args.skip_compare:
            sets = list(option_sets())
            for key, path in src.items():
                for options in sets:
                    sums = {name: digest([cli, *options, path, os.path.join(work, f"out-{name}.txt")],
                                         os.path.join(work, f"out-{name}.txt")) for name, cli in builds.items()}
                    if sums["before"] != sums["after"]:
                        differ += 1
                        print(f"DIFFERENT: {key} {' '.join(options)}")
            print(f"{len(sets)} option sets x {len(src)} sources: {differ} with different output\n")

        load_start = os.getloadavg()[0]
        times = {}
        for rnd in range(args.rounds):
            for key, path in src.items():
                order = list(builds.items())
                if rnd % 2:
                    order.reverse()
                for name, cli in order:
                    times.setdefault((name, key), []).append(timed([cli, path, os.path.join(work, "t.txt")]))
        print(f"{args.names:,} names, {args.rounds} interleaved rounds, medians; {os.cpu_count()} cores; "
              f"load average {load_start:.2f} at the start, {os.getloadavg()[0]:.2f} at the end")
        print("| Source | Before | After | After/before |")
        print("|---|---|---|---|")
        for key in src:
            b, a = statistics.median(times[("before", key)]), statistics.median(times[("after", key)])
            print(f"| {key} | {b:.3f} s | {a:.3f} s | {a / b:.2f} |")
        return 1 if differ else 0
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    sys.exit(main())
