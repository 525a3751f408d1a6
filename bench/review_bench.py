#!/usr/bin/env python3
"""The review rule (quorvel-cli --review): its flag rate and its cost, side by side in one run.

  - flag rate on an ordinary list drawn with population frequencies (make_population_names.py)
    and on the 1,000,000-name set of the engine benchmarks (make_names.py);
  - on well-known people's names (famous_names.tsv, with their accepted readings): how many the
    engine reads wrong, how many lines are flagged, and how many of the wrong ones are flagged;
  - cost: quorvel-cli on the 1,000,000 names in GBK and UTF-8, and on the population list, with
    and without --review, interleaved rounds, median wall and CPU (user + system) times and their
    ratio (every run writes new files, removed after it outside the timing), and --review with the
    review on the run's own thread (QUORVEL_THREADS=1) beside it; with --instructions
    also the instructions of one run each (valgrind's callgrind, which counts the same on a busy
    machine as on an idle one; the review's thread counted too) and their ratio; with --against OTHER_CLI
    (another build, say the one before a change) also OTHER_CLI --review in the same rounds, its
    ratio to the same run without review beside this build's.
Prints Markdown.

Usage: review_bench.py --cli BUILD/bin/quorvel-cli [--names 1000000] [--rounds 7] [--instructions]
                       [--against OTHER/bin/quorvel-cli]
"""
import argparse
import os
import re
import resource
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def timed(argv, env=None):
    """Wall and CPU seconds of one process (CPU: all its threads)."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    proc = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if proc.returncode != 0:
        sys.exit(f"failed: {' '.join(argv)}: {proc.stderr.decode()}")
    return wall, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def fresh(work, argv_for, env=None):
    """timed() of argv_for(target, review file), both new files, removed after the timing: a run
    that replaced the last run's files would wait while the file system dropped them."""
    out, review = os.path.join(work, "fresh_out.txt"), os.path.join(work, "fresh_review.tsv")
    result = timed(argv_for(out, review), env)
    for path in (out, review):
        if os.path.exists(path):
            os.remove(path)
    return result


def instructions(argv):
    """Instructions of one process, counted by callgrind."""
    proc = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null", *argv],
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    found = re.search(r"Collected : (\d+)", proc.stderr)
    if proc.returncode != 0 or not found:
        sys.exit(f"callgrind failed: {' '.join(argv)}: {proc.stderr[-500:]}")
    return int(found.group(1))


def flagged_lines(cli, source, work, *options):
    review = os.path.join(work, "review.tsv")
    subprocess.run([cli, *options, f"--review={review}", source, os.path.join(work, "out.txt")],
                   check=True, stderr=subprocess.DEVNULL)
    with open(review, encoding="utf-8") as f:
        return {int(line.split("\t", 1)[0]) for line in f}


def line_count(path):
    with open(path, "rb") as f:
        return sum(1 for _ in f)


def famous(cli, work):
    names, accepted = [], []
    with open(os.path.join(HERE, "famous_names.tsv"), encoding="utf-8") as f:
        for line in f:
            if not line.startswith("#") and line.strip():
                name, reading = line.rstrip("\n").split("\t")
                names.append(name)
                accepted.append(reading.replace(" ", ""))
    source = os.path.join(work, "famous.txt")
    with open(source, "w", encoding="utf-8") as f:
        f.write("".join(n + "\n" for n in names))
    flagged = flagged_lines(cli, source, work, "-f", "9", "-s", "none")
    with open(os.path.join(work, "out.txt"), encoding="utf-8") as f:
        outputs = [line.rstrip("\r\n") for line in f]
    wrong = [i + 1 for i, (out, want) in enumerate(zip(outputs, accepted)) if out != want]
    caught = [i for i in wrong if i in flagged]
    missed = [names[i - 1] for i in wrong if i not in flagged]
    print(f"| Well-known people's names ({len(names)}) | read wrong: {len(wrong)}; lines flagged: {len(flagged)} "
          f"({100 * len(flagged) / len(names):.1f} %); wrong ones flagged: {len(caught)} of {len(wrong)} "
          f"({100 * len(caught) / max(1, len(wrong)):.0f} %); missed: {' '.join(missed)} |")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", required=True)
    ap.add_argument("--names", type=int, default=1000000)
    ap.add_argument("--rounds", type=int, default=7)
    ap.add_argument("--instructions", action="store_true")
    ap.add_argument("--against", help="another quorvel-cli whose --review is timed in the same rounds")
    args = ap.parse_args()
    with tempfile.TemporaryDirectory() as work:
        population = os.path.join(work, "population.txt")
        subprocess.run([sys.executable, os.path.join(HERE, "make_population_names.py"), str(args.names), population],
                       check=True)
        gbk, utf8 = os.path.join(work, "names_gbk.txt"), os.path.join(work, "names_utf8.txt")
        subprocess.run([sys.executable, os.path.join(HERE, "make_names.py"), str(args.names), gbk, utf8], check=True)

        print("| List | Flagged lines |\n|---|---|")
        for label, path in (("Population frequencies (make_population_names.py)", population),
                            ("Engine benchmark set (make_names.py)", utf8)):
            n = len(flagged_lines(args.cli, path, work))
            print(f"| {label}, {line_count(path):,} names | {n:,} ({100 * n / line_count(path):.2f} %) |")
        famous(args.cli, work)

        # The review on the run's own thread too (QUORVEL_THREADS=1): what its thread saves.
        one_thread = dict(os.environ, QUORVEL_THREADS="1")
        against = " | --against's --review | Its ratio wall / CPU" if args.against else ""
        print("\n| Source | Without review: wall / CPU (median) | With --review | Ratio wall / CPU"
              " | --review on one thread (QUORVEL_THREADS=1) | Its ratio wall / CPU"
              f"{against} |\n|---|---|---|---|---|---{'|---|---' if args.against else ''}|")
        for label, path in (("make_names.py, GBK", gbk), ("make_names.py, UTF-8", utf8),
                            ("population frequencies, UTF-8", population)):
            plain, reviewed, alone, other = [], [], [], []
            for _ in range(args.rounds):
                plain.append(fresh(work, lambda out, _: [args.cli, path, out]))
                reviewed.append(fresh(work, lambda out, review: [args.cli, f"--review={review}", path, out]))
                alone.append(fresh(work, lambda out, review: [args.cli, f"--review={review}", path, out],
                                   one_thread))
                if args.against:
                    other.append(fresh(work, lambda out, review: [args.against, f"--review={review}", path, out]))
            medians = lambda runs: tuple(statistics.median(t[i] for t in runs) for i in (0, 1))
            pw, pc = medians(plain)
            row = f"| {label}, {args.names:,} names | {pw * 1000:.1f} ms / {pc * 1000:.1f} ms |"
            for runs in (reviewed, alone, other) if args.against else (reviewed, alone):
                w, c = medians(runs)
                row += f" {w * 1000:.1f} ms / {c * 1000:.1f} ms | {w / pw:.3f} / {c / pc:.3f} |"
            print(row)
        if args.instructions:
            print("\n| Source | Instructions without review | With --review | Ratio"
                  f"{' | --against --review | Its ratio' if args.against else ''} |"
                  f"\n|---|---|---|---{'|---|---' if args.against else ''}|")
            for label, path in (("make_names.py, GBK", gbk), ("make_names.py, UTF-8", utf8),
                                ("population frequencies, UTF-8", population)):
                out, review = os.path.join(work, "o.txt"), os.path.join(work, "r.tsv")
                plain = instructions([args.cli, path, out])
                reviewed = instructions([args.cli, f"--review={review}", path, out])
                row = (f"| {label}, {args.names:,} names | {plain / 1e6:,.1f} M | {reviewed / 1e6:,.1f} M | "
                       f"{reviewed / plain:.3f} |")
                if args.against:
                    other = instructions([args.against, f"--review={review}", path, out])
                    row += f" {other / 1e6:,.1f} M | {other / plain:.3f} |"
                print(row)
        print(f"\nload average at the end: {os.getloadavg()[0]:.1f}")


if __name__ == "__main__":
    main()
