#!/usr/bin/env python3
"""Converts mailboxes with tarnwick-cli's defaults and reads the output back with
Python's mailbox and email packages, as a user's mail program would.

usage: read_back.py TARNWICK_CLI [--size-mb N] [--samples DIR]

For each of the four corpora bench/gen_corpus.py makes (mac, win, ja, mixed), the In
mailboxes of the Eudora folders under tests/data/eudora and, with --samples, those of
the real sample folders in DIR (when DIR exists), it checks: the output holds as many messages as the input; no header has a raw 8-bit
byte; no header or text body decodes with U+FFFD; and at most 1% of the messages
still carry Eudora's tags (the mark of a message written unconverted). It prints the
figures it measured, one line per mailbox.
"""
import argparse, email, email.policy, mailbox, os, re, subprocess, sys, tempfile

SEPARATOR = re.compile(rb"(?:^|(?<=\r)|(?<=\n))From ", re.M)
EUDORA_TAG = re.compile(rb"(?:^|[\r\n])<(?:x-html|x-flowed|x-charset)[ >]")


def _split(data):
    """Header and body of one message, at its first empty line (any line ends)."""
    parts = re.split(rb"\r?\n\r?\n", data, maxsplit=1)
    return parts[0], None, parts[1] if len(parts) > 1 else b""


def count_input_messages(data):
    """Lines that begin with "From ", whatever ends the line before them."""
    return sum(1 for line in re.split(rb"\r\n|\r|\n", data) if line.startswith(b"From "))


def convert(cli, source, dest, home):
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, "config"), LC_ALL="C.UTF-8")
    env.pop("LANG", None)
    run = subprocess.run([cli, source, dest], env=env, capture_output=True)
    if run.returncode != 0 or run.stdout.strip() != b"Completed":
        raise SystemExit("conversion of %s failed: %r %r" % (source, run.stdout, run.stderr[-500:]))


def check(path, expected_count):
    problems = []
    box = mailbox.mbox(path, factory=None, create=False)
    messages = [box.get_bytes(key) for key in box.iterkeys()]
    if len(messages) != expected_count:
        problems.append("%d messages read back, %d in the input" % (len(messages), expected_count))
    unconverted = 0
    for index, data in enumerate(messages):
        header, _, body = _split(data)
        if any(b >= 0x80 for b in header):
            problems.append("message %d: raw 8-bit bytes in the header" % index)
        # A trailer ("<!x-stuff-for-...") is kept whole, tags and all, by design.
        if EUDORA_TAG.search(body.split(b"<!x-stuff-for-")[0]):
            unconverted += 1
        parsed = email.message_from_bytes(data, policy=email.policy.default)
        for name, value in parsed.items():
            if "\ufffd" in str(value):
                problems.append("message %d: U+FFFD in %s" % (index, name))
        for part in parsed.walk():
            if part.get_content_maintype() != "text" or part.is_multipart():
                continue
            try:
                text = part.get_content()
            except (LookupError, UnicodeError) as error:
                problems.append("message %d: body does not decode: %s" % (index, error))
                continue
            if "\ufffd" in text:
                problems.append("message %d: U+FFFD in the %s body" % (index, part.get_content_type()))
    share = 100.0 * unconverted / max(1, len(messages))
    if share >= 1.0:
        problems.append("%.2f%% of the messages unconverted" % share)
    return len(messages), unconverted, share, problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("cli")
    parser.add_argument("--size-mb", type=float, default=1.0)
    parser.add_argument("--samples", default="", help="the real Eudora sample folders, if this machine has them")
    args = parser.parse_args()
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    failures = 0
    with tempfile.TemporaryDirectory() as work:
        inputs = []
        generator = os.path.join(root, "bench", "gen_corpus.py")
        for profile in ("mac", "win", "ja", "mixed"):
            path = os.path.join(work, profile + ".mbx")
            subprocess.run([sys.executable, generator, "--size-mb", str(args.size_mb), "--profile", profile,
                            "--seed", "7", path], check=True, capture_output=True)
            inputs.append((profile, path))
        fixtures = os.path.join(root, "tests", "data", "eudora")
        mailboxes = [("mac folder", os.path.join(fixtures, "Mac Eudora Folder", "Mail Folder", "In")),
                     ("win folder", os.path.join(fixtures, "Windows Eudora Folder", "In.mbx"))]
        if args.samples and os.path.isdir(args.samples):
            mailboxes += [("mac sample", os.path.join(args.samples, "Mac Eudora 6.2.4 Folder", "Mail Folder", "In")),
                          ("win sample", os.path.join(args.samples, "Windows Eudora 7.1 Folder", "In.mbx"))]
        for name, path in mailboxes:
            if not os.path.isfile(path):
                raise SystemExit("read_back: %s is missing" % path)
            inputs.append((name, path))
        for name, path in inputs:
            output = os.path.join(work, name.replace(" ", "-") + ".mbox")
            convert(args.cli, path, output, work)
            count, unconverted, share, problems = check(output, count_input_messages(open(path, "rb").read()))
            print("%-10s %5d messages, %d unconverted (%.2f%%)%s" % (name, count, unconverted, share,
                                                                     "" if not problems else ", %d problems" % len(problems)))
            for problem in problems[:10]:
                print("    " + problem)
            failures += bool(problems)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
