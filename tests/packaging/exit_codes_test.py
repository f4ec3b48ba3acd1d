#!/usr/bin/env python3
"""One exit-code table for the runner, wherever it is written down.

The table in runner.h's comment, the English README's table and the English
manual page's EXIT STATUS (as man shows it) say the same for every code, and
runner.h defines no exit code that the table leaves out. The Chinese README's
table and the Chinese manual page's 退出状态 say the same as each other, for
the same codes. The codes after which the user unit does not restart the
runner (RestartPreventExitStatus) are the codes each of the four documents
names for it.

  exit_codes_test.py SOURCE_DIR
"""
import os
import re
import subprocess
import sys

failures = []


def fail(what):
    failures.append(what)
    print("FAIL " + what)


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def english(text):
    """The words of one entry, without markup, spacing, capital or full stop."""
    text = re.sub(r"\s+", " ", text.replace("`", "")).strip().rstrip(".")
    return text[:1].lower() + text[1:]


def chinese(text):
    return re.sub(r"\s+", "", text.replace("`", "")).rstrip("。")


def header_table(path):
    """runner.h: '//   N  words' and the comment lines that go on with them."""
    table, code = {}, None
    for line in read(path).splitlines():
        if m := re.match(r"//\s+(\d+)  (\S.*)", line):
            code = int(m.group(1))
            table[code] = m.group(2)
        elif code is not None and (m := re.match(r"// {6}(\S.*)", line)):
            table[code] += " " + m.group(1)
        else:
            code = None
    return table


def header_constants(path):
    return {int(c) for c in re.findall(r"constexpr int kExit\w+ = (\d+);", read(path))}


def readme_table(path, heading):
    """The markdown table whose header row is | HEADING | ... |."""
    table, inside = {}, False
    for line in read(path).splitlines():
        if re.match(r"\|\s*" + re.escape(heading) + r"\s*\|", line):
            inside = True
        elif inside and line.startswith("|"):
            if m := re.match(r"\|\s*(\d+)\s*\|(.*)\|\s*$", line):
                table[int(m.group(1))] = m.group(2)
        elif inside:
            break
    return table


def man_text(path):
    """The page as man shows it: one line per paragraph, no hyphenation, no emphasis."""
    groff = subprocess.run(["groff", "-man", "-Tutf8", "-K", "utf8", "-rLL=4000n", "-rHY=0", "-P-cbou", path],
                           capture_output=True, text=True)
    if groff.returncode != 0:
        fail(f"groff cannot render {path}: {groff.stderr.strip()}")
    # groff's hyphen and minus signs are what the user types as "-".
    return groff.stdout.replace("\u2010", "-").replace("\u2212", "-")


def man_table(path, heading):
    table, inside = {}, False
    for line in man_text(path).splitlines():
        if line.strip() and not line[0].isspace():
            inside = line.strip() == heading
        elif inside and (m := re.match(r"\s+(\d+)\s+(\S.*)", line)):
            table[int(m.group(1))] = m.group(2)
    return table


def compare(tables, normal):
    """tables: name -> {code: text}; every one against the first."""
    (first, reference), *others = tables.items()
    if not reference:
        fail(f"{first}: no exit-code table found")
        return
    for name, table in others:
        if set(table) != set(reference):
            fail(f"{name} lists the codes {sorted(table)}, {first} {sorted(reference)}")
        for code in sorted(set(table) & set(reference)):
            if normal(table[code]) != normal(reference[code]):
                fail(f"exit code {code}: {name} says {normal(table[code])!r}, {first} {normal(reference[code])!r}")


def not_restarted(text, pattern, separators):
    """The codes of the first list that PATTERN finds (group 1)."""
    m = re.search(pattern, re.sub(r"\s+", " ", text))
    return {int(c) for c in re.split(separators, m.group(1))} if m else None


def main():
    src = sys.argv[1]
    runner_h = os.path.join(src, "src/headless/runner.h")
    readme, readme_zh = os.path.join(src, "README.md"), os.path.join(src, "README.zh_CN.md")
    page, page_zh = (os.path.join(src, "packaging/man", d, "quillmere-headless.1") for d in ("", "zh_CN"))

    header = header_table(runner_h)
    compare({"runner.h": header,
             "README.md": readme_table(readme, "code"),
             "quillmere-headless.1": man_table(page, "EXIT STATUS")}, english)
    if header_constants(runner_h) != set(header):
        fail(f"runner.h defines the exit codes {sorted(header_constants(runner_h))}, "
             f"its table lists {sorted(header)}")
    chinese_tables = {"README.zh_CN.md": readme_table(readme_zh, "退出代码"),
                      "zh_CN/quillmere-headless.1": man_table(page_zh, "退出状态")}
    compare(chinese_tables, chinese)
    for name, table in chinese_tables.items():
        if set(table) != set(header):
            fail(f"{name} lists the codes {sorted(table)}, runner.h {sorted(header)}")

    unit = read(os.path.join(src, "packaging/quillmere-headless@.service.in"))
    prevented = {int(c) for c in re.search(r"^RestartPreventExitStatus=(.*)$", unit, re.M).group(1).split()}
    if not prevented <= set(header):
        fail(f"the unit names exit codes {sorted(prevented - set(header))} that runner.h does not define")
    english_list = r"((?:\d+(?:, | and ))+\d+)"
    chinese_list = r"((?:\d+、)+\d+)"
    said = {
        "README.md": not_restarted(read(readme), r"not after the exit codes that need the user: " + english_list,
                                   r", | and "),
        "quillmere-headless.1": not_restarted(man_text(page), r"does not restart the runner after " + english_list,
                                              r", | and "),
        "README.zh_CN.md": not_restarted(read(readme_zh), r"退出代码为 ?" + chinese_list + " ?时", "、"),
        "zh_CN/quillmere-headless.1": not_restarted(man_text(page_zh), r"退出代码为 ?" + chinese_list + " ?时", "、"),
    }
    for name, codes in said.items():
        if codes is None:
            fail(f"{name} does not say after which exit codes the unit does not restart the runner")
        elif codes != prevented:
            fail(f"{name} says the unit does not restart after {sorted(codes)}, the unit {sorted(prevented)}")

    print(f"exit codes: {len(header)} codes, {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
