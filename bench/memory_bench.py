#!/usr/bin/env python3
"""Peak memory and time of quorvel-cli as the names file grows.

make_names.py's 1,000,000 names (GBK, UTF-8, and UTF-16LE with a mark) are repeated to each size
asked for (and the GBK names behind one name outside GB2312), converted once per build and encoding under GNU time; the table gives wall time and
maximum resident set size. The memory goal: a constant, not growing with the file. The big files
are removed at the end.

With --review each build runs a second time with --review, whose file of names to check grows
with the list (about 1.1 MiB a million names of the benchmark set).

Usage: memory_bench.py --cli BUILD/bin/quorvel-cli [--before OLD/bin/quorvel-cli]
                       [--millions 1,20,100] [--dir /work/tmp] [--review]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))


def run(cli, source, target, *options):
    proc = subprocess.run(["/usr/bin/time", "-f", "%e %M", cli, *options, source, target], stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True)
    if proc.returncode != 0:
        return None, None, proc.stderr.strip().splitlines()[0]
    wall, kib = proc.stderr.strip().splitlines()[-1].split()
    return float(wall), int(kib) / 1024, None


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", required=True)
    ap.add_argument("--before")
    ap.add_argument("--millions", default="1,20,100")
    ap.add_argument("--dir", default=None)
    ap.add_argument("--review", action="store_true",
                    help="each build also with --review (its file of names to check)")
    args = ap.parse_args()
    work = tempfile.mkdtemp(prefix="quorvel-memory-bench-", dir=args.dir)
    try:
        base = {k: os.path.join(work, f"base-{k}.txt") for k in ("gbk", "utf8", "utf16le", "gbk-wide-first")}
        subprocess.run([sys.executable, os.path.join(HERE, "make_names.py"), "1000000", base["gbk"],
                        base["utf8"]], check=True)
        with open(base["utf8"], "rb") as f, open(base["utf16le"], "wb") as g:
            g.write(f.read().decode("utf-8").encode("utf-16-le"))
        with open(base["gbk"], "rb") as f, open(base["gbk-wide-first"], "wb") as g:
            g.write("朱镕基\r\n".encode("gbk") + f.read())  # 镕 is in GBK, not in GB2312
        builds = [("after", args.cli)] + ([("before", args.before)] if args.before else [])
        print(f"{os.cpu_count()} cores, load average {os.getloadavg()[0]:.2f} at the start")
        print("| Names | Source | Size | Build | Wall | Peak RSS |")
        print("|---|---|---|---|---|---|")
        for millions in (int(m) for m in args.millions.split(",")):
            for key, path in base.items():
                big = os.path.join(work, f"{millions}M-{key}.txt")
                with open(big, "wb") as g:
                    if key == "utf16le":
                        g.write(b"\xff\xfe")
                    for _ in range(millions):
                        with open(path, "rb") as f:
                            shutil.copyfileobj(f, g, 1 << 20)
                size = os.path.getsize(big) / (1 << 20)
                review = os.path.join(work, "review.tsv")
                runs = [(name, cli, ()) for name, cli in builds]
                if args.review:
                    runs += [(name + ", --review", cli, (f"--review={review}",)) for name, cli in builds]
                for name, cli, options in runs:
                    target = os.path.join(work, "out.txt")
                    wall, rss, err = run(cli, big, target, *options)
                    shown = f"{wall:.2f} s | {rss:.1f} MiB" if err is None else f"failed: {err} |"
                    print(f"| {millions}M | {key} | {size:.0f} MiB | {name} | {shown} |", flush=True)
                    for done in (target, review):
                        if os.path.exists(done):
                            os.remove(done)
                os.remove(big)
        print(f"load average {os.getloadavg()[0]:.2f} at the end")
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    sys.exit(main())
