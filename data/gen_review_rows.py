#!/usr/bin/env python3
"""Writes data/review_rows.tsv: the characters that make a name worth a person's check.

  given    a given-name character with several readings (its row in char_rows.tsv) that is
           either rare in given names (fewer than RARE_PER_MILLION holders per million in
           reference/given_name_chars.tsv; a traditional character counts as its simplified form)
           or whose other readings are common in text (at least OTHER_TEXT_SHARE of its
           kHanyuPinlu count), unless reference/given_name_readings.tsv settles its reading in
           names with high confidence.
  surname  a single-character surname with a second reading as a surname
           (reference/surname_readings.tsv: alt_readings, but not a reading found only inside a
           compound surname).

Each row: character, kind, readings (the one the table gives in that position first, then the
others), reason. Nothing here comes from lists of people's names.

The output depends only on the inputs: running it twice on the same Unihan gives the same bytes.

Usage: gen_review_rows.py [--unihan Unihan_Readings.txt(.bz2)] [--variants Unihan_Variants.txt(.bz2)]
                          [--reference DIR] [--rows DIR] [--out DIR]
"""
import argparse
import os
import re

from gen_rows import (DEFAULT_REFERENCE, DEFAULT_UNIHAN, DEFAULT_VARIANTS, HERE, keep, pinlu_counts,
                      plain, read_simplified, read_unihan, write)
from rows import read_rows, read_table

RARE_PER_MILLION = 100    # below this many holders per million, a character is rare in given names
OTHER_TEXT_SHARE = 0.2    # the other readings' share of the text counts that makes them common

REASON_RARE = "rare in given names"
REASON_SURNAME = "two surname readings"


def text_share_of_others(fields, used):
    """The share of a character's kHanyuPinlu count that its readings other than `used` hold, or
    None without counts."""
    if "kHanyuPinlu" not in fields:
        return None
    counts = {}
    for raw, n in pinlu_counts(fields["kHanyuPinlu"]):
        if keep(raw):
            counts[plain(raw)] = counts.get(plain(raw), 0) + n
    total = sum(counts.values())
    return (total - counts.get(used, 0)) / total if total else None


def settled_in_names(reference):
    """Characters (simplified and traditional) whose reading in given names is settled with high
    confidence."""
    settled = set()
    for row in read_table(os.path.join(reference, "given_name_readings.tsv")):
        if row["confidence"] == "high":
            settled.update(ch for ch in (row["character"], row["traditional"]) if ch)
    return settled


def given_rows(table, unihan, per_million, simplified, settled):
    def holders(ch):
        if ch in per_million:
            return per_million[ch]
        return max((per_million.get(form, 0) for form in simplified.get(ch, [])), default=0)

    rows = []
    for cp, ch, reading, _rule in table:
        readings = reading.split("/")
        if len(readings) < 2:
            continue
        if holders(ch) < RARE_PER_MILLION:
            reason = REASON_RARE
        else:
            share = text_share_of_others(unihan.get(int(cp[2:], 16), {}), readings[0])
            if ch in settled or share is None or share < OTHER_TEXT_SHARE:
                continue
            common = max(readings[1:], key=lambda r: (share_of(unihan, cp, r), r))
            reason = f"often read {common}"
        rows.append((ch, "given", reading, reason))
    return rows


def share_of(unihan, cp, reading):
    fields = unihan.get(int(cp[2:], 16), {})
    return sum(n for raw, n in pinlu_counts(fields.get("kHanyuPinlu", "")) if keep(raw) and plain(raw) == reading)


def surname_rows(reference, table_first, surname_first):
    rows = []
    for row in read_table(os.path.join(reference, "surname_readings.tsv")):
        others = [plain(re.sub(r"\d", "", alt)) for alt in row["alt_readings"].split(",")
                  if alt.strip() and "only in" not in alt]
        if not others:
            continue
        for ch in dict.fromkeys((row["simplified"], row["traditional"])):
            if ch not in table_first:
                continue
            used = surname_first.get(ch, table_first[ch])
            readings = [used] + sorted(set(others + [row["pinyin"]]) - {used})
            rows.append((ch, "surname", "/".join(readings), REASON_SURNAME))
    return rows


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--unihan", default=DEFAULT_UNIHAN)
    ap.add_argument("--variants", default=DEFAULT_VARIANTS)
    ap.add_argument("--reference", default=DEFAULT_REFERENCE)
    ap.add_argument("--rows", default=HERE, help="folder of char_rows.tsv and surname_rows.tsv")
    ap.add_argument("--out", default=HERE)
    args = ap.parse_args()

    # Every character of the table, four-byte GB18030 ones (outside GBK) too.
    table = read_rows(os.path.join(args.rows, "char_rows.tsv"), 4)
    surname_first = dict(read_rows(os.path.join(args.rows, "surname_rows.tsv"), 2))
    per_million = {r["character"]: int(r["per_million"])
                   for r in read_table(os.path.join(args.reference, "given_name_chars.tsv"))}
    given = given_rows(table, read_unihan(args.unihan), per_million, read_simplified(args.variants),
                       settled_in_names(args.reference))
    surnames = surname_rows(args.reference, {r[1]: r[2].split("/")[0] for r in table}, surname_first)
    write(os.path.join(args.out, "review_rows.tsv"),
          "# Generated by data/gen_review_rows.py from char_rows.tsv, surname_rows.tsv, Unihan 15.0 (kHanyuPinlu),\n"
          "# given_name_chars.tsv, given_name_readings.tsv and surname_readings.tsv; do not edit.\n"
          f"# rare in given names: under {RARE_PER_MILLION} holders per million; often read X: other readings hold"
          f" at least {OTHER_TEXT_SHARE:.0%} of the text counts\n"
          "# character\tkind\treadings (the one the table gives there first)\treason\n",
          given + surnames)
    print(f"given rows={len(given)} surname rows={len(surnames)}")


if __name__ == "__main__":
    main()
