#!/usr/bin/env python3
"""Whole-process speed and memory of quorvel-cli, side by side in one run.

For N names (make_names.py) in GBK, UTF-8 and UTF-16LE, formats 1 and 9, one and all readings,
Hanyu Pinyin and Wade-Giles: the median wall time of quorvel-cli (and of an earlier build, if
given) over interleaved rounds, names/s, peak RSS, and ratios to
  - the cat floor: `cat SOURCE > TARGET`;
  - the read-and-write floor: floor_copy reading the source whole and writing a target of the
    size of quorvel-cli's output;
  - the peer: @napi-rs/pinyin (peer_pinyin.js) converting the same names from UTF-8, one line
    per name, once with one call for the whole text (its fastest API) and once with one call
    per name.
Outputs of the two builds are compared byte for byte. Prints a Markdown table.

Usage: engine_bench.py --cli BUILD/bin/quorvel-cli [--before OLD/bin/quorvel-cli]
                       [--names 1000000] [--rounds 5]
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


def run(argv, stdout=None):
    """Wall seconds and peak RSS (KiB) of one process. The RSS comes from GNU time: a child's own
    ru_maxrss would include the Python process it was forked from."""
    rss_file = os.path.join(tempfile.gettempdir(), f"quorvel-bench-rss-{os.getpid()}")
    start = time.perf_counter()
    proc = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", rss_file] + argv,
                          stdout=stdout or subprocess.DEVNULL, stderr=subprocess.PIPE)
    wall = time.perf_counter() - start
    if proc.returncode != 0:
        sys.exit(f"failed ({proc.returncode}): {' '.join(argv)}: {proc.stderr.decode()}")
    with open(rss_file) as f:
        kib = int(f.read().split()[-1])
    os.unlink(rss_file)
    return wall, kib


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def peer_ready():
    """Installs the peer @napi-rs/pinyin into bench/node_modules (git ignores it) when missing."""
    if not os.path.isdir(os.path.join(HERE, "node_modules", "@napi-rs", "pinyin")):
        subprocess.run(["npm", "install", "--no-save", "--no-package-lock", "@napi-rs/pinyin"], cwd=HERE,
                       check=True, stdout=subprocess.DEVNULL)


def make_sources(work, names):
    """make_names.py's `names` names in `work` as GBK, UTF-8 and UTF-16LE with a mark: {encoding: path}."""
    src = {e: os.path.join(work, f"names_{e}.txt") for e in ("gbk", "utf8", "utf16")}
    subprocess.run([sys.executable, os.path.join(HERE, "make_names.py"), str(names), src["gbk"], src["utf8"]],
                   check=True)
    with open(src["utf8"], "rb") as f:
        text = f.read().decode("utf-8")
    with open(src["utf16"], "wb") as f:
        f.write(b"\xff\xfe" + text.encode("utf-16-le"))
    return src


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", required=True)
    ap.add_argument("--before")
    ap.add_argument("--names", type=int, default=1_000_000)
    ap.add_argument("--rounds", type=int, default=5)
    args = ap.parse_args()
    bindir = os.path.dirname(os.path.abspath(args.cli))
    floor = os.path.join(bindir, "floor_copy")
    peer_ready()

    load_start = os.getloadavg()[0]
    work = tempfile.mkdtemp(prefix="quorvel-bench-")
    try:
        src = make_sources(work, args.names)

        configs = []
        for enc in ("gbk", "utf8", "utf16"):
            for fmt in ("1", "9"):
                for readings in ("one", "all"):
                    for roman in ("pinyin", "wade-giles"):
                        configs.append((enc, fmt, readings, roman))
        builds = {"after": args.cli}
        if args.before:
            builds["before"] = args.before
        times = {}  # key -> [seconds]
        rss = {}
        sizes = {}

        def record(key, wall, kib):
            times.setdefault(key, []).append(wall)
            rss[key] = max(rss.get(key, 0), kib)

        out = os.path.join(work, "out.txt")
        for rnd in range(args.rounds):
            for c in configs:
                enc, fmt, readings, roman = c
                order = list(builds.items())
                if rnd % 2:
                    order.reverse()
                for name, cli in order:
                    argv = [cli, f"--data-dir={bindir}", f"--format={fmt}"]
                    argv += ["--all-readings"] if readings == "all" else []
                    argv += ["--wade-giles"] if roman == "wade-giles" else []
                    record((name, c), *run(argv + [src[enc], out]))
                    h = digest(out)
                    sizes[c] = os.path.getsize(out)
                    prev = sizes.get(("digest", c))
                    if prev and prev != h:
                        sys.exit(f"outputs differ between builds for {c}")
                    sizes[("digest", c)] = h
                record(("rw", c), *run([floor, src[enc], out, str(sizes[c])]))
            for enc in src:
                with open(out, "wb") as target:
                    record(("cat", enc), *run(["cat", src[enc]], stdout=target))
            for mode in ("whole", "lines"):
                record(("peer", mode), *run(["node", os.path.join(HERE, "peer_pinyin.js"), src["utf8"], out, mode]))

        med = {k: statistics.median(v) for k, v in times.items()}
        n = args.names
        print(f"{n:,} names, {args.rounds} rounds, medians; {os.cpu_count()} cores; "
              f"load average at the end {os.getloadavg()[0]:.2f} (started at {load_start:.2f})")
        print(f"peer @napi-rs/pinyin: whole text {med[('peer', 'whole')]*1000:.0f} ms "
              f"({n/med[('peer', 'whole')]/1e6:.2f} M names/s, {rss[('peer', 'whole')]/1024:.0f} MiB), "
              f"one call per name {med[('peer', 'lines')]*1000:.0f} ms ({n/med[('peer', 'lines')]/1e6:.2f} M/s)")
        print("cat floor: " + ", ".join(f"{e} {med[('cat', e)]*1000:.0f} ms" for e in src))
        print()
        head = "| Source | Format | Readings | Romanization |"
        if args.before:
            head += " Before | Before RSS |"
        head += " After | After RSS | × peer (whole / per name) | × read-and-write floor | × cat floor |"
        print(head)
        print("|" + "---|" * (head.count("|") - 1))
        for c in configs:
            enc, fmt, readings, roman = c
            a = med[("after", c)]
            row = f"| {enc} | {fmt} | {readings} | {roman} |"
            if args.before:
                b = med[("before", c)]
                row += f" {b*1000:.0f} ms ({n/b/1e6:.2f} M/s) | {rss[('before', c)]/1024:.1f} MiB |"
            row += (f" {a*1000:.0f} ms ({n/a/1e6:.2f} M/s) | {rss[('after', c)]/1024:.1f} MiB |"
                    f" {med[('peer', 'whole')]/a:.1f}× / {med[('peer', 'lines')]/a:.1f}× |"
                    f" {a/med[('rw', c)]:.1f} ({med[('rw', c)]*1000:.0f} ms) | {a/med[('cat', enc)]:.1f} |")
            print(row)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
