#!/usr/bin/env python3
"""Writes a deterministic list of ordinary present-day names drawn with population frequencies,
for measuring the review rule's flag rate (review_bench.py).

Frequencies used:
  surname      Zipf over the 2013 surname ranking in data/reference/surname_readings.tsv
               (column rank_2013, weight 1/rank; 300 surnames, 王 李 张 … first), which follows
               the published shares closely for the common surnames and covers about 90 % of
               the population;
  given name   one character in 25 % of the names, two in 75 %; each character drawn by its
               holders per million in data/reference/given_name_chars.tsv (births 1930-2008,
               2,375 characters; rarer characters, under 1 per million, are left out).

Usage: make_population_names.py COUNT OUT_UTF8
"""
import os
import random
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "data"))
from rows import read_table  # noqa: E402

REFERENCE = os.path.join(HERE, "..", "data", "reference")
SINGLE_CHARACTER_SHARE = 0.25


def main():
    count, out = int(sys.argv[1]), sys.argv[2]
    surnames = [(r["simplified"], 1.0 / int(r["rank_2013"]))
                for r in read_table(os.path.join(REFERENCE, "surname_readings.tsv")) if r["rank_2013"].isdigit()]
    given = [(r["character"], int(r["per_million"]))
             for r in read_table(os.path.join(REFERENCE, "given_name_chars.tsv"))]
    rng = random.Random(20261210)
    family = rng.choices([s for s, _ in surnames], [w for _, w in surnames], k=count)
    chars, weights = [c for c, _ in given], [w for _, w in given]
    with open(out, "w", encoding="utf-8", newline="\n") as f:
        for surname in family:
            n = 1 if rng.random() < SINGLE_CHARACTER_SHARE else 2
            f.write(surname + "".join(rng.choices(chars, weights, k=n)) + "\n")


if __name__ == "__main__":
    main()
