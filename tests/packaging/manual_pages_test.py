#!/usr/bin/env python3
"""The manual pages against the programs they describe.

For each program: --version and --help answer alike (name and version,
exit 0; -h is --help), and each of its manual pages (the English one in
MAN_DIR, the Chinese one in MAN_DIR/zh_CN where there is one) lists in its
options section the options of --help, is of the program's version, and
groff renders it without a warning. (exit_codes_test.py checks the exit
codes.)

  manual_pages_test.py MAN_DIR PROGRAM...
"""
import os
import re
import subprocess
import sys
import tempfile

failures = []


def fail(what):
    failures.append(what)
    print("FAIL " + what)


def run(args, home):
    env = dict(os.environ, HOME=home, QT_QPA_PLATFORM="offscreen")
    env.pop("XDG_DATA_HOME", None)
    env.pop("DISPLAY", None)
    p = subprocess.run(args, capture_output=True, text=True, env=env, timeout=60)
    return p.returncode, p.stdout, p.stderr


def help_options(text):
    """Options named in the option column of --help (lines indented by two)."""
    options = set()
    for line in text.splitlines():
        if not re.match(r"  -", line):
            continue
        column = re.split(r"\s{2,}", line.strip(), maxsplit=1)[0]
        options.update(re.findall(r"(?<![\w-])(--?[a-z][a-z-]*)", column))
    return options


def section(page, name):
    m = re.search(r"^\.SH " + re.escape(name) + r"\n(.*?)(?=^\.SH |\Z)", page, re.M | re.S)
    return m.group(1) if m else ""


def tagged_lines(text):
    """The tag line after each .TP."""
    lines = text.splitlines()
    return [lines[i + 1] for i, l in enumerate(lines[:-1]) if l.strip() == ".TP"]


# The options section's heading in each language's pages.
OPTIONS_HEADING = {"": "OPTIONS", "zh_CN": "选项"}


def page_options(page, heading):
    options = set()
    for tag in tagged_lines(section(page, heading)):
        tag = tag.replace("\\-", "-")
        options.update(re.findall(r"(?<![\w-])(--?[a-z][a-z-]*)", tag))
    return options


def check_program(program, man_dir, home):
    name = os.path.basename(program)
    code, out, err = run([program, "--version"], home)
    m = re.fullmatch(re.escape(name) + r" (\S+)\n", out)
    if code != 0 or not m:
        fail(f"{name} --version: exit {code}, {out!r} {err!r}")
        return
    version = m.group(1)
    code, help_text, err = run([program, "--help"], home)
    if code != 0 or not help_text.startswith("usage: " + name + " "):
        fail(f"{name} --help: exit {code}, {help_text!r} {err!r}")
    if run([program, "-h"], home)[1] != help_text:
        fail(f"{name}: -h and --help differ")
    if f"{name} --version | --help" not in help_text:
        fail(f"{name} --help does not name --version and --help in its usage")

    for language, heading in OPTIONS_HEADING.items():
        path = os.path.join(man_dir, language, name + ".1")
        if language and not os.path.exists(path):
            continue
        check_page(path, heading, help_options(help_text), version)


def check_page(path, heading, from_help, version):
    shown = os.path.relpath(path, os.path.dirname(os.path.dirname(path)))
    with open(path, encoding="utf-8") as f:
        page = f.read()
    from_page = page_options(page, heading)
    if from_help != from_page:
        fail(f"{shown} {heading}: only in --help {sorted(from_help - from_page)}, "
             f"only in the page {sorted(from_page - from_help)}")
    th = re.search(r'^\.TH \S+ 1 "[^"]*" "Quillmere (\S+)"', page, re.M)
    if not th or th.group(1) != version:
        fail(f"{shown} is of version {th.group(1) if th else '?'}, the program of {version}")
    groff = subprocess.run(["groff", "-man", "-Tutf8", "-K", "utf8", "-ww", "-z", path],
                           capture_output=True, text=True)
    if groff.returncode != 0 or groff.stderr:
        fail(f"{shown}: groff says {groff.stderr.strip()!r}")


def main():
    man_dir, programs = sys.argv[1], sys.argv[2:]
    with tempfile.TemporaryDirectory() as home:
        for program in programs:
            check_program(program, man_dir, home)
        if home_files := os.listdir(home):
            fail(f"--version or --help made files: {home_files}")
    print(f"manual pages: {len(programs)} programs, {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
