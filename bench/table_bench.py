#!/usr/bin/env python3
"""Tables side by side in one run: quorvel-cli converting 1,000,000 rows of a staff list (工号,
姓名, 部门, 入职) as CSV and as an Excel workbook, with and without the five added columns, against
the same 1,000,000 names as a plain UTF-8 names file. Rounds interleaved; medians of wall time
and peak RSS (GNU time).

Usage: table_bench.py QUORVEL_CLI WORK_DIR [ROWS] [ROUNDS]
"""
import os
import statistics
import subprocess
import sys
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_names  # noqa: E402  (the names of the other benchmarks, same seed)

DEPARTMENTS = ["销售", "研发", "行政", "财务, 审计", "市场"]


def names(count, work):
    gbk, utf8 = os.path.join(work, "n.gbk.txt"), os.path.join(work, "names.txt")
    sys.argv = ["make_names.py", str(count), gbk, utf8]
    make_names.main()
    with open(utf8, encoding="utf-8", newline="") as f:
        return f.read().split("\r\n")[:count]


def write_csv(path, rows):
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write("\ufeff工号,姓名,部门,入职\r\n")
        for number, name, dept, day in rows:
            dept = '"' + dept + '"' if "," in dept else dept
            f.write(f"{number:07d},{name},{dept},{day}\r\n")


def write_xlsx(path, rows):
    strings, index = [], {}

    def shared(text):
        if text not in index:
            index[text] = len(strings)
            strings.append(text)
        return index[text]

    sheet = ['<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
             '<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>']
    header = [shared(t) for t in ("工号", "姓名", "部门", "入职")]
    sheet.append('<row r="1">' + "".join(f'<c r="{c}1" t="s"><v>{s}</v></c>' for c, s in zip("ABCD", header))
                 + "</row>")
    for r, (number, name, dept, day) in enumerate(rows, start=2):
        sheet.append(f'<row r="{r}"><c r="A{r}"><v>{number}</v></c><c r="B{r}" t="s"><v>{shared(name)}</v></c>'
                     f'<c r="C{r}" t="s"><v>{shared(dept)}</v></c><c r="D{r}"><v>{45000 + day}</v></c></row>')
    sheet.append("</sheetData></worksheet>")
    sst = ['<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
           f'<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" uniqueCount="{len(strings)}">']
    sst += [f"<si><t>{s}</t></si>" for s in strings]
    sst.append("</sst>")
    main = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
    rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("[Content_Types].xml",
                   '<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
                   '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
                   '<Default Extension="xml" ContentType="application/xml"/>'
                   '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
                   '<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>'
                   '<Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/>'
                   "</Types>")
        z.writestr("_rels/.rels", '<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
                   f'<Relationship Id="rId1" Type="{rel}/officeDocument" Target="xl/workbook.xml"/></Relationships>')
        z.writestr("xl/workbook.xml", f'<?xml version="1.0" encoding="UTF-8"?><workbook xmlns="{main}" xmlns:r="{rel}">'
                   '<sheets><sheet name="名单" sheetId="1" r:id="rId1"/></sheets></workbook>')
        z.writestr("xl/_rels/workbook.xml.rels", '<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
                   f'<Relationship Id="rId1" Type="{rel}/worksheet" Target="worksheets/sheet1.xml"/>'
                   f'<Relationship Id="rId2" Type="{rel}/sharedStrings" Target="sharedStrings.xml"/></Relationships>')
        z.writestr("xl/worksheets/sheet1.xml", "".join(sheet))
        z.writestr("xl/sharedStrings.xml", "".join(sst))


def timed(cmd):
    out = subprocess.run(["/usr/bin/time", "-f", "%e %U %S %M"] + cmd, capture_output=True, text=True)
    if out.returncode != 0:
        sys.exit(f"failed: {' '.join(cmd)}\n{out.stderr}")
    wall, user, system, kib = out.stderr.strip().splitlines()[-1].split()
    return float(wall), float(user) + float(system), int(kib) / 1024


def main():
    cli, work = sys.argv[1], sys.argv[2]
    count = int(sys.argv[3]) if len(sys.argv) > 3 else 1_000_000
    rounds = int(sys.argv[4]) if len(sys.argv) > 4 else 3
    os.makedirs(work, exist_ok=True)
    all_names = names(count, work)
    rows = [(i + 1, n, DEPARTMENTS[i % len(DEPARTMENTS)], i % 28 + 1) for i, n in enumerate(all_names)]
    write_csv(os.path.join(work, "staff.csv"), rows)
    write_xlsx(os.path.join(work, "staff.xlsx"), rows)
    added = "--add=surname,given,initials,citation,passport"
    cases = [
        ("names file, UTF-8 (the floor: same names, no table)", ["names.txt", "names_en.txt"]),
        ("CSV, UTF-8 with BOM, 4 columns", ["staff.csv", "staff_en.csv"]),
        ("CSV, 5 added columns", [added, "staff.csv", "staff_add.csv"]),
        ("XLSX, shared strings, 4 columns", ["staff.xlsx", "staff_en.xlsx"]),
        ("XLSX, 5 added columns", [added, "staff.xlsx", "staff_add.xlsx"]),
    ]
    results = {name: [] for name, _ in cases}
    for _ in range(rounds):
        for name, args in cases:
            results[name].append(timed([cli] + [a if a.startswith("--") else os.path.join(work, a) for a in args]))
    print(f"{count:,} rows, {rounds} rounds, medians; load average {os.getloadavg()[0]:.2f}")
    # CPU time (user + system) is what a shared machine's load changes least.
    print("| Source | Size | Wall | CPU | Rows/s (CPU) | Peak RSS |")
    print("|---|---|---|---|---|---|")
    for name, args in cases:
        source = os.path.join(work, [a for a in args if not a.startswith("--")][0])
        wall = statistics.median(r[0] for r in results[name])
        cpu = statistics.median(r[1] for r in results[name])
        mib = statistics.median(r[2] for r in results[name])
        print(f"| {name} | {os.path.getsize(source) / 2**20:.1f} MiB | {wall:.2f} s | {cpu:.2f} s | "
              f"{count / cpu / 1e6:.2f} M | {mib:.1f} MiB |")


if __name__ == "__main__":
    main()
