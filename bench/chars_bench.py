#!/usr/bin/env python3
"""Names/s of quorvel-cli before and after a change, side by side in one run: the 1,000,000-name
sets of make_names.py in GBK and UTF-8, and the same names with one in ten holding a character
outside GBK (make_names.py --rare) in UTF-8 and GB18030. Interleaved rounds, medians, the ratio
after/before of the time per name. The outputs of the GBK and UTF-8 sets must be byte for byte
the same in both builds; for the sets with rare characters the lines holding "???" are counted.
Default options (format 1, first reading, Hanyu Pinyin). Prints a Markdown table.

Usage: chars_bench.py --cli BUILD/bin/quorvel-cli --before OLD/bin/quorvel-cli [--names N] [--rounds R]
"""
import argparse
import hashlib
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def run(argv):
    start = time.perf_counter()
    proc = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if proc.returncode != 0:
        sys.exit(f"failed ({proc.returncode}): {' '.join(argv)}")
    return time.perf_counter() - start


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", required=True)
    ap.add_argument("--before", required=True)
    ap.add_argument("--names", type=int, default=1_000_000)
    ap.add_argument("--rounds", type=int, default=7)
    args = ap.parse_args()
    load_start = os.getloadavg()[0]
    work = tempfile.mkdtemp(prefix="quorvel-chars-bench-")
    try:
        src = {k: os.path.join(work, f"{k}.txt") for k in ("gbk", "utf8", "rare-utf8", "rare-gb18030")}
        subprocess.run([sys.executable, os.path.join(HERE, "make_names.py"), str(args.names), src["gbk"], src["utf8"],
                        "--rare", src["rare-utf8"], src["rare-gb18030"]], check=True)
        builds = {"before": args.before, "after": args.cli}
        times, outputs = {}, {}
        for rnd in range(args.rounds):
            for key, path in src.items():
                order = list(builds.items())
                if rnd % 2:
                    order.reverse()
                for name, cli in order:
                    out = os.path.join(work, f"out-{name}-{key}.txt")
                    times.setdefault((name, key), []).append(run([cli, path, out]))
                    if rnd == 0:
                        with open(out, "rb") as f:
                            outputs[(name, key)] = f.read()
        n = args.names
        print(f"{n:,} names, {args.rounds} rounds, medians; {os.cpu_count()} cores; load average "
              f"{load_start:.2f} at the start, {os.getloadavg()[0]:.2f} at the end")
        print()
        print("| Source | Before | After | Ratio after/before (time per name) | Output |")
        print("|---|---|---|---|---|")
        for key in src:
            b, a = statistics.median(times[("before", key)]), statistics.median(times[("after", key)])
            same = outputs[("before", key)] == outputs[("after", key)]
            if key.startswith("rare"):
                marks = [outputs[(name, key)].count(b"???") for name in builds]
                note = f'lines with "???": {marks[0]:,} before, {marks[1]:,} after'
            else:
                note = "identical" if same else "DIFFERENT"
                if not same:
                    print(f"outputs differ for {key}", file=sys.stderr)
            print(f"| {key} | {b*1000:.0f} ms ({n/b/1e6:.2f} M/s) | {a*1000:.0f} ms ({n/a/1e6:.2f} M/s) | "
                  f"{a/b:.2f} | {note} |")
        digest = hashlib.sha256(outputs[("after", "gbk")]).hexdigest()[:16]
        print(f"\nSHA-256 of the GBK output (both builds): {digest}…")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
