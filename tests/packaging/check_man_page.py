#!/usr/bin/env python3
"""Checks that the tarnwick-cli man page says what `tarnwick-cli --help` says.

Usage: check_man_page.py TARNWICK_CLI MAN_PAGE [VERSION]

Compared: the usage line, the set of options, each option's argument name and
description, the exit codes with their meanings, the result texts, and (when
VERSION is given) the version in the page's title line. Every difference is
printed; the exit status is 1 when there is one.
"""
import re
import shlex
import subprocess
import sys

FONT_MACROS = {".B", ".I", ".BR", ".BI", ".IR", ".RB", ".IB", ".RI"}


def unescape(text):
    for roff, plain in ((r"\-", "-"), (r"\(dq", '"'), (r"\(ti", "~"), (r"\e", "\\"),
                        (r"\fB", ""), (r"\fI", ""), (r"\fR", ""), (r"\fP", ""), (r"\&", "")):
        text = text.replace(roff, plain)
    return text


def render(roff_text):
    """Plain text of a man page: font macros joined, other requests as breaks."""
    lines = []
    for line in roff_text.splitlines():
        if line.startswith('.\\"'):
            continue
        if line.startswith("."):
            macro, _, rest = line.partition(" ")
            if macro in FONT_MACROS:
                args = shlex.split(rest.replace("\\", "\\\\"), posix=True)
                # .B and .I join their words with spaces; the alternating macros join without.
                lines.append((" " if macro in (".B", ".I") else "").join(args))
            else:
                lines.append("\n")
            continue
        lines.append(line)
    return unescape(" ".join(lines))


def normalise(text):
    return re.sub(r"\s+", " ", text).strip().lower().rstrip(".")


def help_options(help_text):
    """{option: (argument or '', description)} from the Options block of --help."""
    options = {}
    entries = []  # [names_part, description]
    for line in help_text.splitlines():
        if re.match(r"^  -", line):
            names, _, description = line.strip().partition("  ")
            entries.append([names.strip(), description.strip()])
        elif entries and re.match(r"^ {20,}\S", line):
            entries[-1][1] = (entries[-1][1] + " " + line.strip()).strip()
    for names, description in entries:
        argument = ""
        for part in re.split(r", (?=-)", names):
            name, _, arg = part.partition(" ")
            argument = arg or argument
            options[name] = (argument, description)
    return options


def main():
    if len(sys.argv) not in (3, 4):
        print(__doc__)
        return 2
    cli, man_path = sys.argv[1], sys.argv[2]
    version = sys.argv[3] if len(sys.argv) == 4 else None
    help_text = subprocess.run([cli, "--help"], check=True, capture_output=True, text=True).stdout
    with open(man_path, encoding="utf-8") as f:
        roff = f.read()
    man = render(roff)
    man_norm = normalise(man)
    problems = []

    usage = re.search(r"^Usage: (.*)$", help_text, re.M)
    if not usage or normalise(usage.group(1)) not in man_norm:
        problems.append("usage line of --help is not in the man page: %r" % (usage and usage.group(1)))

    options = help_options(help_text)
    help_names = set(options)
    man_names = set(re.findall(r"(?<![\w-])(--?[a-zA-Z][a-z-]*)", man))
    man_names = {n for n in man_names if n.startswith("--") or n in ("-h", "-V")}
    for name in sorted(help_names - man_names):
        problems.append("option %s is in --help but not in the man page" % name)
    for name in sorted(man_names - help_names):
        problems.append("option %s is in the man page but not in --help" % name)

    for name, (argument, description) in sorted(options.items()):
        if argument and normalise(name + " " + argument) not in man_norm:
            problems.append("man page does not show %s with its argument %s" % (name, argument))
        if normalise(description) not in man_norm:
            problems.append("description of %s differs: --help says %r" % (name, description))

    exit_codes = re.findall(r"(\d+) ([a-z][a-z ]*?)(?=[,(.]| \(|$)", re.sub(
        r"\s+", " ", help_text[help_text.find("Exit status:"):]))
    if not exit_codes:
        problems.append("--help names no exit status")
    exit_section = re.search(r"^\.SH EXIT STATUS$(.*?)^\.SH ", roff, re.M | re.S)
    man_codes = {}
    if exit_section:
        for code, meaning in re.findall(r"^\.B (\d+)\n(.*)$", exit_section.group(1), re.M):
            man_codes[code] = normalise(unescape(meaning))
    for code, meaning in exit_codes:
        if not man_codes.get(code, "").startswith(normalise(meaning)):
            problems.append("exit status %s (%s) is not in the man page's EXIT STATUS" % (code, meaning))
    for code in sorted(set(man_codes) - {c for c, _ in exit_codes}):
        problems.append("exit status %s is in the man page but not in --help" % code)

    for result in re.findall(r'"([^"]+)"', help_text[help_text.find("Status goes"):]):
        if '"%s"' % result not in man:
            problems.append("result text %r is not in the man page" % result)

    if version is not None:
        title = re.search(r"^\.TH .*$", roff, re.M)
        if not title or ('"Tarnwick %s"' % version) not in title.group(0):
            problems.append("man page title does not carry version %s: %s" % (version, title and title.group(0)))

    for problem in problems:
        print("MISMATCH:", problem)
    print("man page vs --help: %d options, %d exit codes compared, %d differences"
          % (len(options), len(exit_codes), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
