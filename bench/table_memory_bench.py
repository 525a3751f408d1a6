#!/usr/bin/env python3
"""Tables read in blocks: peak memory and time of quorvel-cli on table_bench.py's staff list as a
1,000,000-row CSV and workbook and as a 5,000,000-row CSV (the same names five times over), side
by side with an earlier build (--before) in one run: rounds interleaved, medians of wall time, CPU
time (user + system) and peak RSS (GNU time). The two builds' targets are compared too: CSV byte
for byte, a workbook part by part (docProps/core.xml holds the time it was written).

Usage: table_memory_bench.py QUORVEL_CLI WORK_DIR [--before OLD_QUORVEL_CLI] [--rounds N]
"""
import argparse
import filecmp
import os
import statistics
import sys
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import table_bench  # noqa: E402  (the staff list, its writers and the timer)


def same_target(ext, a, b):
    if ext != "xlsx":
        return filecmp.cmp(a, b, shallow=False)
    with zipfile.ZipFile(a) as za, zipfile.ZipFile(b) as zb:
        names = sorted(n for n in za.namelist() if n != "docProps/core.xml")
        if names != sorted(n for n in zb.namelist() if n != "docProps/core.xml"):
            return False
        return all(za.read(n) == zb.read(n) for n in names)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("cli")
    parser.add_argument("work")
    parser.add_argument("--before")
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    work = args.work
    os.makedirs(work, exist_ok=True)
    names = table_bench.names(1_000_000, work)
    rows = [(i + 1, n, table_bench.DEPARTMENTS[i % len(table_bench.DEPARTMENTS)], i % 28 + 1)
            for i, n in enumerate(names)]
    table_bench.write_csv(os.path.join(work, "staff.csv"), rows)
    table_bench.write_xlsx(os.path.join(work, "staff.xlsx"), rows)
    table_bench.write_csv(os.path.join(work, "staff5m.csv"),
                          ((i + 1, names[i % len(names)],
                            table_bench.DEPARTMENTS[i % len(table_bench.DEPARTMENTS)], i % 28 + 1)
                           for i in range(5_000_000)))
    del names, rows
    builds = [("before", args.before)] if args.before else []
    builds.append(("after", args.cli))
    cases = [("CSV, 1,000,000 rows", "staff.csv"), ("XLSX, 1,000,000 rows", "staff.xlsx"),
             ("CSV, 5,000,000 rows", "staff5m.csv")]
    results = {(case, build): [] for case, _ in cases for build, _ in builds}
    for _ in range(args.rounds):
        for case, source in cases:
            ext = source.rsplit(".", 1)[1]
            for build, cli in builds:
                target = os.path.join(work, f"{build}_out.{ext}")
                results[(case, build)].append(
                    table_bench.timed([cli, os.path.join(work, source), target]))
            if args.before:
                same = same_target(ext, os.path.join(work, f"before_out.{ext}"),
                                   os.path.join(work, f"after_out.{ext}"))
                if not same:
                    sys.exit(f"the two builds' targets differ: {case}")
    print(f"{args.rounds} rounds, medians; load average {os.getloadavg()[0]:.2f}; "
          f"{os.cpu_count()} cores" + ("; targets identical" if args.before else ""))
    print("| Source | Size | Build | Wall | CPU | Peak RSS |")
    print("|---|---|---|---|---|---|")
    for case, source in cases:
        size = os.path.getsize(os.path.join(work, source)) / 2**20
        for build, _ in builds:
            r = results[(case, build)]
            print(f"| {case} | {size:.1f} MiB | {build} | {statistics.median(x[0] for x in r):.2f} s "
                  f"| {statistics.median(x[1] for x in r):.2f} s "
                  f"| {statistics.median(x[2] for x in r):.1f} MiB |")


if __name__ == "__main__":
    main()
