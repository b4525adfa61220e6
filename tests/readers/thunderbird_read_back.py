#!/usr/bin/env python3
"""The Thunderbird layout read back as Thunderbird reads Local Folders, with Python's
mailbox.mbox, against the tree layout of the same folder.

usage: thunderbird_read_back.py TARNWICK_CLI [SAMPLES_DIR]

For each Eudora folder under tests/data/eudora (and the real sample folders in
SAMPLES_DIR, when given) it converts with --layout thunderbird and with --layout tree
--no-crlf, then checks: every NAME.sbd folder has a mailbox file NAME beside it and no
name carries an extension; each mailbox holds the messages of its tree counterpart;
no CR; every message's X-Mozilla-Status bits say what its Status and X-Status headers
say (read 0x0001, replied 0x0002, forwarded 0x1000, from the index where it has one);
X-Mozilla-Status2 is eight hex digits; X-Mozilla-Keys holds Thunderbird's $labelN tag
of the message's X-Keywords $LabelN, padded to 80 characters.
"""
import mailbox, os, re, subprocess, sys, tempfile


def convert(cli, home, *args):
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, "config"), LC_ALL="C.UTF-8", TZ="UTC")
    run = subprocess.run([cli, *args], env=env, capture_output=True)
    if run.returncode != 0 or run.stdout.strip() != b"Completed":
        raise SystemExit("conversion %s failed: %r %r" % (args, run.stdout, run.stderr[-500:]))


def files(root):
    for folder, _, names in os.walk(root):
        for name in names:
            yield os.path.relpath(os.path.join(folder, name), root)


def tree_name(path):
    """The tree layout's path of a Thunderbird mailbox: folders without .sbd."""
    parts = path.split(os.sep)
    return "/".join([p[:-4] for p in parts[:-1]] + [parts[-1]])


def without_extension(path):
    return re.sub(r"\.(mbx|MBX|mbox)$", "", path)


def check_message(label, msg, raw, problems):
    header = lambda name: (msg.get(name) or "")
    status = header("X-Mozilla-Status")
    if not status:
        return 0  # a mailbox without an index has no status headers
    bits = int(status, 16)
    read = "R" in header("Status")
    replied = "A" in header("X-Status")
    keywords = header("X-Keywords").split()
    forwarded = "$Forwarded" in keywords
    if (bool(bits & 1), bool(bits & 2), bool(bits & 0x1000)) != (read, replied, forwarded):
        problems.append("%s: X-Mozilla-Status %s against Status %r, X-Status %r, X-Keywords %r"
                        % (label, status, header("Status"), header("X-Status"), keywords))
    if not re.fullmatch(r"[0-9a-f]{8}", header("X-Mozilla-Status2")):
        problems.append("%s: X-Mozilla-Status2 %r" % (label, header("X-Mozilla-Status2")))
    # Read from the bytes: the parser takes the padding off.
    head = raw.split(b"\n\n", 1)[0]
    raw_keys = [m.decode() for m in re.findall(rb"^X-Mozilla-Keys: (.*)$", head, re.M | re.I)]
    labels = [k.lower() for k in keywords if re.fullmatch(r"\$Label[1-7]", k)]
    if len(raw_keys) != 1 or raw_keys[0].split() != labels or len(raw_keys[0]) < 80:
        problems.append("%s: X-Mozilla-Keys %r for X-Keywords %r" % (label, raw_keys, keywords))
    return 1


def main():
    cli = sys.argv[1]
    here = os.path.dirname(os.path.abspath(__file__))
    data = os.path.join(here, "..", "data", "eudora")
    folders = [os.path.join(data, f) for f in ("Windows Eudora Folder", "Mac Eudora Folder")]
    samples = sys.argv[2] if len(sys.argv) > 2 else ""
    folders += [os.path.join(samples, f) for f in ("Windows Eudora 7.1 Folder", "Mac Eudora 6.2.4 Folder")
                if samples and os.path.isdir(os.path.join(samples, f))]
    problems = []
    with tempfile.TemporaryDirectory() as work:
        for number, source in enumerate(folders):
            name = os.path.basename(source)
            tb, tree = os.path.join(work, str(number), "tb"), os.path.join(work, str(number), "tree")
            os.makedirs(tb)
            os.makedirs(tree)
            convert(cli, work, "--layout", "thunderbird", source, tb)
            convert(cli, work, "--layout", "tree", "--no-crlf", source, tree)
            for folder, dirs, _ in os.walk(tb):
                for d in dirs:
                    if not d.endswith(".sbd") or not os.path.isfile(os.path.join(folder, d[:-4])):
                        problems.append("%s: folder %s has no mailbox beside it" % (name, d))
            expected = {without_extension(p): p for p in files(tree)}
            seen = set()
            for path in sorted(files(tb)):
                if re.search(r"\.(mbx|mbox|toc)$", path, re.I):
                    problems.append("%s: %s keeps an extension" % (name, path))
                key = tree_name(path)
                data = open(os.path.join(tb, path), "rb").read()
                if b"\r" in data:
                    problems.append("%s: CR in %s" % (name, path))
                box = mailbox.mbox(os.path.join(tb, path), create=False)
                keys = list(box.iterkeys())
                messages = [box[k] for k in keys]
                if key not in expected:
                    if messages:
                        problems.append("%s: %s has no tree counterpart" % (name, path))
                    continue
                seen.add(key)
                other = mailbox.mbox(os.path.join(tree, expected[key]), create=False)
                subjects = sorted(m.get("Subject", "") for m in messages)
                if subjects != sorted(m.get("Subject", "") for m in other):
                    problems.append("%s: %s holds other messages than %s" % (name, path, expected[key]))
                indexed = sum(check_message("%s %s #%d" % (name, path, i), box[k], box.get_bytes(k), problems)
                              for i, k in enumerate(keys))
                print("%s: %s: %d messages, %d with status headers" % (name, path, len(messages), indexed))
            for key in sorted(set(expected) - seen):
                problems.append("%s: %s of the tree layout has no Thunderbird mailbox" % (name, expected[key]))
    for problem in problems:
        print("FAIL", problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
