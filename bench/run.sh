#!/usr/bin/env bash
# Speed benchmarks: lookups (Google Benchmark) and whole-process conversion of 1,000,000 names
# with quorvel-cli (hyperfine), 640,000 names with a character GBK cannot hold against the same
# without it, plus peak memory; then engine_bench.py, the side-by-side table. Results go to
# bench/README.md by hand.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$root/scripts/deps.sh" bench
cmake --build "$build" --target quorvel-cli bench_lookup floor_copy >/dev/null
python3 "$root/bench/make_names.py" 1000000 "$work/names_gbk.txt" "$work/names_utf8.txt"
# 640,000 names with a character GBK cannot hold in each, against the same names without it.
python3 "$root/bench/make_names.py" 640000 "$work/few_gbk.txt" "$work/few_utf8.txt" "$work/few_ext_b.txt"
ls -l "$work"/names_*.txt "$work"/few_*.txt
"$build/bin/bench_lookup" --benchmark_min_time=1
cli="$build/bin/quorvel-cli"
hyperfine --warmup 2 --runs 10 \
  -n gbk "$cli $work/names_gbk.txt $work/out_gbk.txt" \
  -n utf8 "$cli $work/names_utf8.txt $work/out_utf8.txt"
hyperfine --warmup 1 --runs 10 \
  -n utf8-640k "$cli $work/few_utf8.txt $work/out_few_utf8.txt" \
  -n ext-b-640k "$cli $work/few_ext_b.txt $work/out_few_ext_b.txt"
for f in gbk utf8; do
  /usr/bin/time -f "$f: peak RSS %M KiB, %e s" "$cli" "$work/names_$f.txt" "$work/out_$f.txt"
done
# Side by side in one run: quorvel-cli (and an earlier build: BEFORE=/path/to/quorvel-cli), the
# cat and read-and-write floors, and @napi-rs/pinyin (npm-installed into bench/node_modules).
python3 "$root/bench/engine_bench.py" --cli "$cli" ${BEFORE:+--before "$BEFORE"}
# Custom dictionary import of 20,000 and 80,000 entries side by side, and a list beside it.
python3 "$root/bench/dict_import_bench.py" --cli "$cli" ${BEFORE:+--before "$BEFORE"}
# Characters outside GBK and the per-name path against an earlier build (BEFORE).
if [ -n "${BEFORE:-}" ]; then python3 "$root/bench/chars_bench.py" --cli "$cli" --before "$BEFORE"; fi
# Tables: 1,000,000-row CSV and workbook against the same names as a plain file.
python3 "$root/bench/table_bench.py" "$cli" "$work/tables"
# Tables read in blocks: peak memory at 1,000,000 and 5,000,000 rows, against BEFORE if given.
python3 "$root/bench/table_memory_bench.py" "$cli" "$work/tables" ${BEFORE:+--before "$BEFORE"}
# The review rule: its flag rate on ordinary and well-known names, and its cost (review_bench.py).
python3 "$root/bench/review_bench.py" --cli "$cli"
