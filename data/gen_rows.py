#!/usr/bin/env python3
"""Writes the committed row files of data/ from Unicode's Unihan and the vetted reference tables
of data/reference/.

  char_rows.tsv      one row per CJK ideograph that Unihan gives a Mandarin reading, in every
                     block (IDEOGRAPH_BLOCKS): code point, character, reading string, the rule that
                     chose the first reading. A traditional character (Unihan kSimplifiedVariant)
                     takes the first reading of its simplified form when it has that reading too,
                     so a name reads the same in both scripts. A compatibility ideograph without
                     readings of its own reads as its canonical equivalent. The rows of the GBK
                     characters of U+4E00..U+9FFF, the table's first rows, are worked out among
                     themselves exactly as before the other blocks joined, so none changes.
  surname_rows.tsv   characters whose reading as a surname differs from their usual one.
  wade_giles_rows.tsv  pinyin syllable -> Wade-Giles as written in names (Taiwan passports, press).
  compound_surname_rows.tsv  compound surnames pre-filled into the custom dictionaries.

The output depends only on the inputs: running it twice on the same Unihan gives the same bytes.

Usage: gen_rows.py [--unihan Unihan_Readings.txt(.bz2)] [--variants Unihan_Variants.txt(.bz2)]
                   [--reference DIR] [--out DIR]
"""
import argparse
import bz2
import os
import re
import sys
import unicodedata

from rows import read_table

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_UNIHAN = "/usr/share/unicode/Unihan_Readings.txt.bz2"
DEFAULT_VARIANTS = "/usr/share/unicode/Unihan_Variants.txt.bz2"
DEFAULT_REFERENCE = os.path.join(HERE, "reference")

FIELDS = ("kMandarin", "kXHC1983", "kTGHZ2013", "kHanyuPinlu", "kHanyuPinyin")
# (first, last, name) of the blocks whose characters get rows, as in Unicode 15.0's Blocks.txt.
IDEOGRAPH_BLOCKS = (
    (0x4E00, 0x9FFF, "CJK Unified Ideographs"),
    (0x3400, 0x4DBF, "Extension A"),
    (0x20000, 0x2A6DF, "Extension B"),
    (0x2A700, 0x2B73F, "Extension C"),
    (0x2B740, 0x2B81F, "Extension D"),
    (0x2B820, 0x2CEAF, "Extension E"),
    (0x2CEB0, 0x2EBEF, "Extension F"),
    (0x30000, 0x3134F, "Extension G"),
    (0x31350, 0x323AF, "Extension H"),
    (0xF900, 0xFAFF, "Compatibility Ideographs"),
    (0x2F800, 0x2FA1F, "Compatibility Ideographs Supplement"),
)
COMPATIBILITY_BLOCKS = ("Compatibility Ideographs", "Compatibility Ideographs Supplement")


def block_of(cp):
    for first, last, name in IDEOGRAPH_BLOCKS:
        if first <= cp <= last:
            return name
    return None
TONE_MARKS = {"\u0300", "\u0301", "\u0304", "\u030c"}  # grave, acute, macron, caron
SYLLABLE = re.compile(r"^[a-z]{1,6}$")


def open_text(path):
    if path.endswith(".bz2"):
        return bz2.open(path, "rt", encoding="utf-8")
    return open(path, encoding="utf-8")


def unihan_entries(path):
    """(code point, field, raw value) for every entry line of a Unihan file."""
    with open_text(path) as f:
        for line in f:
            if line.startswith("U+"):
                cp_text, field, value = line.rstrip("\n").split("\t", 2)
                yield int(cp_text[2:], 16), field, value


def read_unihan(path):
    """{code point: {field: raw value}} for the fields we use, ideographs of IDEOGRAPH_BLOCKS only."""
    data = {}
    for cp, field, value in unihan_entries(path):
        if field in FIELDS and block_of(cp):
            data.setdefault(cp, {})[field] = value
    return data


def read_simplified(path):
    """{traditional character: [its simplified forms]} from kSimplifiedVariant, in Unihan's order.
    A character listed among its own simplified forms stays unchanged in simplified writing for
    some of its uses."""
    result = {}
    for cp, field, value in unihan_entries(path):
        if field == "kSimplifiedVariant":
            result[chr(cp)] = [chr(int(v[2:], 16)) for v in value.split()]
    return result


def agree_with_simplified(rows, simplified, known=None):
    """Gives a traditional character the first reading of its simplified form where it has that
    reading too; the simplified forms are looked up among `known` rows (default: `rows`). Left
    alone: a character that is also its own simplified form (乾 qian beside 干 gan: the
    simplified form covers only some of its words) and one whose first reading the given-name
    table chose."""
    by_char = {row[1]: row for row in (known if known is not None else rows)}
    for i, (cp, ch, reading, rule) in enumerate(rows):
        forms = simplified.get(ch, [])
        if ch in forms or rule == "given-name":
            continue
        readings = reading.split("/")
        for form in forms:
            if form not in by_char:
                continue
            wanted = by_char[form][2].split("/")[0]
            if wanted in readings and wanted != readings[0]:
                rows[i] = (cp, ch, "/".join([wanted] + sorted(set(readings) - {wanted})), "simplified-form")
            break


def is_toned(syllable):
    return any(c in TONE_MARKS for c in unicodedata.normalize("NFD", syllable))


def plain(syllable):
    """Toneless lower-case ASCII form: lü -> lv, lüe -> lue, ê -> e, ḿ -> m."""
    out = []
    for c in unicodedata.normalize("NFD", syllable.lower()):
        if c == "\u0308":  # diaeresis: the preceding u is ü
            out[-1] = "v"
        elif unicodedata.combining(c):
            continue
        else:
            out.append(c)
    s = "".join(out)
    s = s.replace("lve", "lue").replace("nve", "nue")
    if not SYLLABLE.match(s):
        raise ValueError(f"unexpected syllable {syllable!r} -> {s!r}")
    return s


def field_readings(field, value):
    """The raw (toned) readings of one field, in the order Unihan lists them."""
    if field == "kMandarin":
        return value.split()
    if field == "kHanyuPinlu":
        return [re.sub(r"\(\d+\)$", "", item) for item in value.split()]
    # kXHC1983, kTGHZ2013, kHanyuPinyin: "loc,loc:reading,reading loc:reading"
    result = []
    for item in value.split():
        result.extend(item.rsplit(":", 1)[1].split(","))
    return result


def pinlu_counts(value):
    counts = []
    for item in value.split():
        m = re.match(r"^(.*)\((\d+)\)$", item)
        counts.append((m.group(1), int(m.group(2))))
    return counts


def keep(raw):
    """Drops the erhua 'r' that kHanyuPinlu gives 儿."""
    return plain(raw) != "r"


def readings_of(fields):
    modern = ("kXHC1983", "kTGHZ2013", "kHanyuPinlu")
    used = ["kMandarin", *modern] if any(f in fields for f in modern) else ["kMandarin", "kHanyuPinyin"]
    found = set()
    for field in used:
        if field in fields:
            found.update(plain(r) for r in field_readings(field, fields[field]) if keep(r))
    return found


def first_reading(fields, readings, given_names):
    """The reading a name most likely has, and the rule that chose it. The one place these rules live."""
    if given_names is not None and given_names in readings:
        return given_names, "given-name"
    mandarin = field_readings("kMandarin", fields["kMandarin"]) if "kMandarin" in fields else []
    if mandarin and is_toned(mandarin[0]):
        return plain(mandarin[0]), "kMandarin"
    toned = [r for r in mandarin[1:] if is_toned(r)]
    if toned:
        return plain(toned[0]), "kMandarin-next-toned"
    if "kHanyuPinlu" in fields:
        counted = [(n, i, r) for i, (r, n) in enumerate(pinlu_counts(fields["kHanyuPinlu"])) if is_toned(r) and keep(r)]
        if counted:
            best = max(counted, key=lambda t: (t[0], -t[1]))
            return plain(best[2]), "kHanyuPinlu-most-counted"
    for field in ("kXHC1983", "kTGHZ2013"):
        if field in fields:
            toned = [r for r in field_readings(field, fields[field]) if is_toned(r)]
            if toned:
                return plain(toned[0]), "first-toned-" + field
    if mandarin:
        return plain(mandarin[0]), "kMandarin-untoned"
    for field in ("kHanyuPinyin", "kXHC1983", "kTGHZ2013", "kHanyuPinlu"):
        if field in fields:
            return plain(field_readings(field, fields[field])[0]), "first-" + field
    raise ValueError("no reading")


def given_name_readings(reference):
    result = {}
    for row in read_table(os.path.join(reference, "given_name_readings.tsv")):
        if row["confidence"] not in ("high", "medium"):
            continue
        for ch in (row["character"], row.get("traditional", "")):
            if ch:
                result.setdefault(ch, row["name_reading"])
    return result


def is_gbk(ch):
    try:
        return len(ch.encode("gbk")) == 2
    except UnicodeEncodeError:
        return False


def write(path, header, rows):
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write(header)
        for row in rows:
            f.write("\t".join(row) + "\n")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--unihan", default=DEFAULT_UNIHAN)
    ap.add_argument("--variants", default=DEFAULT_VARIANTS)
    ap.add_argument("--reference", default=DEFAULT_REFERENCE)
    ap.add_argument("--out", default=HERE)
    args = ap.parse_args()

    unihan = read_unihan(args.unihan)
    given = given_name_readings(args.reference)

    simplified = read_simplified(args.variants)
    rows, rule_counts, skipped_given = [], {}, []
    first_rows, other_rows = [], []
    for cp in sorted(unihan):
        ch = chr(cp)
        fields = unihan[cp]
        readings = readings_of(fields)
        if not readings:
            continue
        first, rule = first_reading(fields, readings, given.get(ch))
        if ch in given and rule != "given-name":
            skipped_given.append(ch)
        ordered = [first] + sorted(readings - {first})
        row = (f"U+{cp:04X}", ch, "/".join(ordered), rule)
        (first_rows if 0x4E00 <= cp <= 0x9FFF and is_gbk(ch) else other_rows).append(row)
    agree_with_simplified(first_rows, simplified)
    agree_with_simplified(other_rows, simplified, first_rows + other_rows)
    rows = first_rows + other_rows
    by_char = {row[1]: row for row in rows}
    for first_cp, last_cp, name in IDEOGRAPH_BLOCKS:
        if name not in COMPATIBILITY_BLOCKS:
            continue
        for cp in range(first_cp, last_cp + 1):
            ch = chr(cp)
            equivalent = unicodedata.normalize("NFC", ch)
            if ch in by_char or equivalent == ch or equivalent not in by_char:
                continue
            rows.append((f"U+{cp:04X}", ch, by_char[equivalent][2], "canonical-equivalent"))
    rows.sort(key=lambda row: int(row[0][2:], 16))
    for row in rows:
        rule_counts[row[3]] = rule_counts.get(row[3], 0) + 1
    per_block, first_set = {}, set(first_rows)
    for row in rows:
        if row not in first_set:
            name = block_of(int(row[0][2:], 16))
            per_block[name] = per_block.get(name, 0) + 1

    syllables = {s for r in rows for s in r[2].split("/")}
    polyphonic = sum(1 for r in rows if "/" in r[2])
    write(os.path.join(args.out, "char_rows.tsv"),
          "# Generated by data/gen_rows.py from Unihan 15.0 (Unihan_Readings.txt, Unihan_Variants.txt) and given_name_readings.tsv; do not edit.\n"
          f"# rows={len(rows)} syllables={len(syllables)} polyphonic={polyphonic}\n"
          "# code point\tcharacter\treadings (first: the reading a name most likely has)\trule that chose the first\n",
          rows)

    surnames = []
    for row in read_table(os.path.join(args.reference, "surname_readings.tsv")):
        if row["reading_differs"] != "yes":
            continue
        if "weak" in row.get("disputed", "").lower() or "weak" in row.get("notes", "").lower():
            continue
        for ch in dict.fromkeys((row["simplified"], row["traditional"])):
            if ch and is_gbk(ch):
                surnames.append((ch, row["pinyin"]))
    write(os.path.join(args.out, "surname_rows.tsv"),
          "# Generated by data/gen_rows.py from surname_readings.tsv; do not edit.\n"
          "# character\treading as a surname (differs from its usual reading)\n",
          surnames)

    wade = []
    for row in read_table(os.path.join(args.reference, "wade_giles.tsv")):
        py = row["pinyin"]
        wg = row["wade_giles_plain"].lower().replace("'", "").replace("ü", "u")
        wade.append((py, wg))
    write(os.path.join(args.out, "wade_giles_rows.tsv"),
          "# Generated by data/gen_rows.py from wade_giles.tsv (column wade_giles_plain); do not edit.\n"
          "# pinyin syllable\tWade-Giles as written in names\n",
          wade)

    compounds = []
    for row in read_table(os.path.join(args.reference, "compound_surnames.tsv")):
        if row["kind"] not in ("classical", "non-Han historical"):
            continue
        for key in dict.fromkeys((row["simplified"], row["traditional"])):
            if key and all(is_gbk(c) for c in key):
                compounds.append((key, row["pinyin"].lower(), row["wade_giles_plain"].lower()))
    write(os.path.join(args.out, "compound_surname_rows.tsv"),
          "# Generated by data/gen_rows.py from compound_surnames.tsv (kinds classical, non-Han historical); do not edit.\n"
          "# key\tpinyin\tWade-Giles\n",
          compounds)

    print(f"rows={len(rows)} syllables={len(syllables)} polyphonic={polyphonic}")
    print(f"  rows of the GBK characters of U+4E00..U+9FFF: {len(first_rows)}")
    for _, _, name in IDEOGRAPH_BLOCKS:
        print(f"  rows added, {name}: {per_block.get(name, 0)}")
    for rule in sorted(rule_counts):
        print(f"  first reading by {rule}: {rule_counts[rule]}")
    if skipped_given:
        print("  given-name reading not among the row's readings: " + "".join(skipped_given), file=sys.stderr)
    print(f"surname rows={len(surnames)} wade-giles rows={len(wade)} compound surname keys={len(compounds)}")


if __name__ == "__main__":
    main()
