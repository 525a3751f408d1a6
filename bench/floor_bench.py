#!/usr/bin/env python3
"""quorvel-cli before and after a change of the per-name path, beside floor_romanizer (the least a
converter can do: first reading, surname rule, CR LF), side by side in one run.

The 1,000,000-name sets of make_names.py in GBK and UTF-8, default options (format 1, hyphen,
first reading, Hanyu Pinyin); interleaved rounds (the order of the three turned every round),
medians of the wall time and of the CPU time (user + system, from the child's own rusage), and
the ratios to the floor. The two builds' outputs are compared byte for byte first. Prints Markdown.

Usage: floor_bench.py --cli BUILD/bin/quorvel-cli --before OLD/bin/quorvel-cli
                      --floor BUILD/bin/floor_romanizer [--names N] [--rounds R]
"""
import argparse
import filecmp
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def timed(argv, env=None):
    """Wall and CPU seconds of one process (in `env`, else this one's environment); a failure ends
    the bench."""
    start = time.perf_counter()
    proc = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        sys.exit(f"failed ({proc.returncode}): {' '.join(argv)}")
    return wall, usage.ru_utime + usage.ru_stime


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", required=True)
    ap.add_argument("--before", required=True)
    ap.add_argument("--floor", required=True)
    ap.add_argument("--names", type=int, default=1_000_000)
    ap.add_argument("--rounds", type=int, default=15)
    args = ap.parse_args()
    work = tempfile.mkdtemp(prefix="quorvel-floor-bench-")
    try:
        src = {k: os.path.join(work, f"{k}.txt") for k in ("gbk", "utf8")}
        subprocess.run([sys.executable, os.path.join(HERE, "make_names.py"), str(args.names),
                        src["gbk"], src["utf8"]], check=True)
        programs = {"before": args.before, "after": args.cli, "floor": args.floor}
        for key, path in src.items():
            outs = {}
            for name in ("before", "after"):
                outs[name] = os.path.join(work, f"{key}-{name}.out")
                timed([programs[name], path, outs[name]])
            if not filecmp.cmp(outs["before"], outs["after"], shallow=False):
                sys.exit(f"the two builds' outputs differ ({key})")
        load_start = os.getloadavg()[0]
        times = {}
        for rnd in range(args.rounds):
            for key, path in src.items():
                order = list(programs.items())
                order = order[rnd % 3:] + order[:rnd % 3]
                for name, program in order:
                    times.setdefault((name, key), []).append(
                        timed([program, path, os.path.join(work, "t.out")]))
        print(f"{args.names:,} names, {args.rounds} interleaved rounds, medians; {os.cpu_count()} cores; "
              f"load average {load_start:.2f} at the start, {os.getloadavg()[0]:.2f} at the end; "
              "outputs of before and after byte-identical")
        print()
        print("| Source | What | Wall | CPU (user + system) | Wall / floor | CPU / floor |")
        print("|---|---|---|---|---|---|")
        for key in src:
            floor_wall = statistics.median(w for w, _ in times[("floor", key)])
            floor_cpu = statistics.median(c for _, c in times[("floor", key)])
            for name in programs:
                wall = statistics.median(w for w, _ in times[(name, key)])
                cpu = statistics.median(c for _, c in times[(name, key)])
                print(f"| {key} | {name} | {wall * 1000:.0f} ms | {cpu * 1000:.0f} ms | "
                      f"{wall / floor_wall:.2f} | {cpu / floor_cpu:.2f} |")
        return 0
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    sys.exit(main())
