#!/usr/bin/env python3
"""Converts two Eudora folders, a Windows one and a Mac one, with tarnwick-cli (each folder
whole and its In mailbox alone) and reads the results back with Python's email package:
every file behind an attachment line must come back as a MIME part whose decoded bytes
equal the file, every cid: reference of an HTML part must name a part beside it, and
every message without attachment lines must be byte-identical to the --no-attachments
output.

Usage: attachments_readback.py TARNWICK_CLI FOLDERS_DIR fixtures|samples
  fixtures: the repository's folders (tests/data/eudora)
  samples:  the real sample folders (FOLDERS_DIR is eudora-samples); exit 77 when absent"""

import email
import email.policy
import mailbox
import os
import re
import subprocess
import sys
import tempfile

# Per set: the Windows and the Mac folder's names, and for each folder, subject -> files
# (relative to the Eudora folder) in the order of their lines, and whether each is an
# inline image. Written from the folders by hand.
SETS = {
    "fixtures": ("Windows Eudora Folder", "Mac Eudora Folder", {
        "Minutes and budget": ([("attach/budget-2011.csv", False), ("attach/Meeting minutes", False)],
                               [("Attachments Folder/budget-2011.csv", False), ("Attachments Folder/Untitled", False)]),
        "Your check-up reminder from Lakeside Dental Care": ([("Embedded/Your check-up reminder from Lak.jpg", True)],
                                                           [("Parts Folder/Untitled", True)]),
        "Saturday ride": ([("attach/route 3-12.htm", False)], [("Attachments Folder/route 3:12", False)]),
        "The harbour from the hill": ([("Embedded/harbour.png", True)], [("Parts Folder/harbour.png", True)]),
    }),
    "samples": ("Windows Eudora 7.1 Folder", "Mac Eudora 6.2.4 Folder", {
        "Email Attachment Test": ([("attach/stevan_white", False), ("attach/Email Attachment Test", False)],
                                  [("Attachments Folder/stevan_white", False), ("Attachments Folder/Untitled", False)]),
        "Appointment reminder from Austin Dental Arts": ([("Embedded/Appointment reminder from Austi.jpg", True)],
                                                         [("Parts Folder/Untitled", True)]),
        "This is a test": ([("attach/tools.arlut.utexas.edugash2.htm", False)],
                           [("Attachments Folder/tools.arlut.utexas.edu:gash2:", False)]),
        "Another email test": ([("Embedded/kate_halloween.jpg", True)], [("Parts Folder/kate_halloween.jpg", True)]),
    }),
}
EXPECTED = {}
LINE = re.compile(rb"^(Attachment [Cc]onverted: |Embedded Content: |Related: )", re.M)

failures = []


def first_difference(got, expected):
    """Where two byte strings part: the offset and a hex window of each around it."""
    at = next((i for i, (a, b) in enumerate(zip(got, expected)) if a != b), min(len(got), len(expected)))
    window = lambda data: data[max(0, at - 8):at + 9].hex(" ")
    return (f"first difference at offset {at} (got {len(got)} bytes, expected {len(expected)}): "
            f"got {window(got)} / expected {window(expected)}")


def check(condition, text):
    if not condition:
        failures.append(text)
    return condition


def run(cli, source, destination, *options):
    env = dict(os.environ, HOME=os.path.dirname(destination), LANG="C")
    result = subprocess.run([cli, *options, source, destination], env=env, capture_output=True)
    check(result.returncode == 0, f"{cli} {source}: exit {result.returncode}: {result.stderr.decode(errors='replace')}")
    return result.stderr.decode(errors="replace")


def output_mailbox(destination, name):
    """The output of the In mailbox: the destination itself, or the file in it whose
    name ends like the mailbox's."""
    if os.path.isfile(destination):
        return destination
    base = os.path.basename(name)
    for folder, _, files in os.walk(destination):
        for file in files:
            if file == base or file.endswith(":" + base) or file.endswith("/" + base):
                return os.path.join(folder, file)
    check(False, f"no output for {name} in {destination}")
    return None


def messages(path):
    box = mailbox.mbox(path, factory=None, create=False)
    for key in box.keys():
        raw = box.get_bytes(key)
        yield raw, email.message_from_bytes(raw, policy=email.policy.default)


def check_related(message, where):
    for part in message.walk():
        if part.get_content_type() != "multipart/related":
            continue
        ids = {p["Content-ID"].strip("<>") for p in part.iter_parts() if p["Content-ID"]}
        for html in part.iter_parts():
            if html.get_content_type() == "text/html":
                for cid in re.findall(r"""cid:([^"'<> ]+)""", html.get_content()):
                    check(cid in ids, f"{where}: cid:{cid} resolves to no part")


def check_run(folder_name, folder, path, plain_path):
    matched = 0
    plain = {raw for raw, _ in messages(plain_path)}
    for raw, message in messages(path):
        subject = str(message["Subject"])
        where = f"{os.path.basename(path)}: {subject}"
        expected = EXPECTED[folder_name].get(subject)
        if expected is None:
            check(raw in plain, f"{where}: a message without attachment lines changed")
            continue
        check(not LINE.search(raw), f"{where}: an attachment line is left although its file was found")
        parts = [p for p in message.walk() if p.get_filename()]
        check(len(parts) == len(expected), f"{where}: {len(parts)} parts for {len(expected)} files")
        for part, (relative, inline) in zip(parts, expected):
            with open(os.path.join(folder, relative), "rb") as f:
                decoded, original = part.get_payload(decode=True), f.read()
                if check(decoded == original, f"{where}: {relative} differs after decoding, "
                         + first_difference(decoded, original)):
                    matched += 1
            check((part.get_content_disposition() == "inline") == inline, f"{where}: {relative} disposition")
            check(not inline or part["Content-ID"], f"{where}: {relative} has no Content-ID")
        check_related(message, where)
        check(not message.defects and all(not p.defects for p in message.walk()), f"{where}: defects")
    return matched


def main():
    if len(sys.argv) != 4 or sys.argv[3] not in SETS:
        print(__doc__)
        return 2
    cli, folders, which = sys.argv[1:]
    win, mac, files = SETS[which]
    if which == "samples" and not folders:
        print("skipped: the real Eudora samples are not on this machine (shared/eudora-samples beside the repository)")
        return 77
    if not all(os.path.isdir(os.path.join(folders, name)) for name in (win, mac)):
        print(f"{win!r} and {mac!r} are not both in {folders!r}")
        return 77 if which == "samples" else 1
    EXPECTED[win] = {subject: pair[0] for subject, pair in files.items()}
    EXPECTED[mac] = {subject: pair[1] for subject, pair in files.items()}
    mailboxes = {win: "In.mbx", mac: "Mail Folder/In"}
    totals = {}
    with tempfile.TemporaryDirectory() as work:
        for folder_name in (win, mac):
            folder = os.path.join(folders, folder_name)
            mailbox_path = os.path.join(folder, mailboxes[folder_name])
            for label, source in (("folder", folder), ("mailbox", mailbox_path)):
                out = os.path.join(work, f"{folder_name}-{label}", "out")
                plain = os.path.join(work, f"{folder_name}-{label}", "plain")
                if label == "folder":
                    os.makedirs(out)
                    os.makedirs(plain)
                else:
                    os.makedirs(os.path.dirname(out), exist_ok=True)
                stderr = run(cli, source, out)
                run(cli, source, plain, "--no-attachments")
                check("Attachments put back: 5, missing: 0" in stderr, f"{folder_name} {label}: summary line: {stderr[-300:]}")
                matched = check_run(folder_name, folder, output_mailbox(out, mailboxes[folder_name]),
                                    output_mailbox(plain, mailboxes[folder_name]))
                totals[(folder_name, label)] = matched
                print(f"{folder_name}, {label}: {matched} of 5 files byte-identical after decoding")
    for failure in failures:
        print("FAIL:", failure)
    both = totals.get((win, "folder"), 0) + totals.get((mac, "folder"), 0)
    print(f"both folders: {both} of 10 files")
    return 1 if failures or both != 10 else 0


if __name__ == "__main__":
    sys.exit(main())
