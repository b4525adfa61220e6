#!/usr/bin/env python3
"""Converts the two real Eudora sample folders with tarnwick-cli (each folder whole and
its In mailbox alone) and reads the results back with Python's email package: every
file behind an attachment line must come back as a MIME part whose decoded bytes equal
the file, every cid: reference of an HTML part must name a part beside it, and every
message without attachment lines must be byte-identical to the --no-attachments output.

Usage: attachments_readback.py TARNWICK_CLI SAMPLES_DIR"""

import email
import email.policy
import mailbox
import os
import re
import subprocess
import sys
import tempfile

WIN = "Windows Eudora 7.1 Folder"
MAC = "Mac Eudora 6.2.4 Folder"

# Subject -> files (relative to the Eudora folder) in the order of their lines, and
# whether each is an inline image. Written from the sample folders by hand.
EXPECTED = {
    WIN: {
        "Email Attachment Test": [("attach/stevan_white", False), ("attach/Email Attachment Test", False)],
        "Appointment reminder from Austin Dental Arts": [("Embedded/Appointment reminder from Austi.jpg", True)],
        "This is a test": [("attach/tools.arlut.utexas.edugash2.htm", False)],
        "Another email test": [("Embedded/kate_halloween.jpg", True)],
    },
    MAC: {
        "Email Attachment Test": [("Attachments Folder/stevan_white", False), ("Attachments Folder/Untitled", False)],
        "Appointment reminder from Austin Dental Arts": [("Parts Folder/Untitled", True)],
        "This is a test": [("Attachments Folder/tools.arlut.utexas.edu:gash2:", False)],
        "Another email test": [("Parts Folder/kate_halloween.jpg", True)],
    },
}
MAILBOX = {WIN: "In.mbx", MAC: "Mail Folder/In"}
LINE = re.compile(rb"^(Attachment [Cc]onverted: |Embedded Content: |Related: )", re.M)

failures = []


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
                if check(part.get_payload(decode=True) == f.read(), f"{where}: {relative} differs after decoding"):
                    matched += 1
            check((part.get_content_disposition() == "inline") == inline, f"{where}: {relative} disposition")
            check(not inline or part["Content-ID"], f"{where}: {relative} has no Content-ID")
        check_related(message, where)
        check(not message.defects and all(not p.defects for p in message.walk()), f"{where}: defects")
    return matched


def main():
    cli, samples = sys.argv[1], sys.argv[2]
    totals = {}
    with tempfile.TemporaryDirectory() as work:
        for folder_name in (WIN, MAC):
            folder = os.path.join(samples, folder_name)
            mailbox_path = os.path.join(folder, MAILBOX[folder_name])
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
                matched = check_run(folder_name, folder, output_mailbox(out, MAILBOX[folder_name]),
                                    output_mailbox(plain, MAILBOX[folder_name]))
                totals[(folder_name, label)] = matched
                print(f"{folder_name}, {label}: {matched} of 5 files byte-identical after decoding")
    for failure in failures:
        print("FAIL:", failure)
    both = totals.get((WIN, "folder"), 0) + totals.get((MAC, "folder"), 0)
    print(f"both folders: {both} of 10 files")
    return 1 if failures or both != 10 else 0


if __name__ == "__main__":
    sys.exit(main())
