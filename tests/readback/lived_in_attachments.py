#!/usr/bin/env python3
"""Builds lived-in Eudora folders in a temporary folder, converts each with tarnwick-cli
and reads the output back with Python's email package (policy=default):
- Windows: the attachment directory Eudora.ini names, absolute (a tail of it inside the
  Eudora folder) and relative (beside the Eudora folder); a text file in Windows-1252
  and a UTF-8 vCard come back with the charset they are read in; a long encoded
  Subject reads back with no leading space.
- Mac: a name shortened with "#" and hex digits is found from the line's long name and
  named with it; two shortened candidates leave the line in place; a Mac Roman text
  file says charset=macintosh.

Usage: lived_in_attachments.py TARNWICK_CLI"""

import email
import email.policy
import mailbox
import os
import subprocess
import sys
import tempfile

failures = []


def check(condition, text):
    if not condition:
        failures.append(text)
    return condition


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


SUBJECT = "Überraschung für die Mädchen und Jungen der Grünschule am Südufer des Sees"
RECIPE = "Crème brûlée für vier Personen\r\n"
VCARD = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann Müller\r\nEND:VCARD\r\n"
PDF = b"%PDF-1.4\n" + bytes(range(256)) * 4
LONG_PDF = "Minutes of the annual meeting 2004.pdf"
LONG_TXT = "Recipe for the holiday season dinner.txt"
MAC_RECIPE = "Apple pie: 2 eggs, 200 g flour, crème fraîche\r"


def windows_message(subject, lines):
    text = ("From ???@??? Mon Dec 13 18:45:29 2010\r\nFrom: Ann <ann@example.com>\r\n"
            f"Subject: {subject}\r\nDate: Mon, 13 Dec 2010 18:45:29 -0600\r\n\r\nHello.\r\n\r\n")
    return text.encode("windows-1252") + b"".join(line.encode("windows-1252") + b"\r\n" for line in lines)


def build(root):
    """The folders, and per mailbox output name: subject -> [(filename, bytes, charset)]."""
    win = os.path.join(root, "Eudora")
    write(os.path.join(win, "Eudora.ini"),
          b"[Settings]\r\nRealName=Ann\r\nAutoReceiveDir=C:\\Users\\ann\\AppData\\Roaming\\Qualcomm\\Eudora\\Saved Files\r\n")
    saved = "c:\\users\\ann\\appdata\\roaming\\qualcomm\\eudora\\saved files\\"
    write(os.path.join(win, "Saved Files", "Rezept.txt"), RECIPE.encode("windows-1252"))
    write(os.path.join(win, "Saved Files", "Ann.vcf"), VCARD.encode("utf-8"))
    write(os.path.join(win, "In.mbx"), windows_message(SUBJECT, [
        f'Attachment Converted: "{saved}Rezept.txt"', f'Attachment Converted: "{saved}Ann.vcf"']))

    other = os.path.join(root, "Other", "Eudora")
    write(os.path.join(other, "Eudora.ini"), b"[Settings]\r\nAttachDir=..\\Beside Files\r\n")
    write(os.path.join(root, "Other", "Beside Files", "plan.pdf"), PDF)
    write(os.path.join(other, "In.mbx"), windows_message("The plan", ['Attachment Converted: "d:\\beside files\\plan.pdf"']))

    mac = os.path.join(root, "Eudora Folder")
    shortened = "Minutes of the annual m#1A2B.pdf"
    write(os.path.join(mac, "Attachments Folder", shortened), PDF)
    write(os.path.join(mac, "Attachments Folder", "Recipe for the holi#12.txt"), b"one")
    write(os.path.join(mac, "Attachments Folder", "Recipe for the#3F.txt"), b"two")
    write(os.path.join(mac, "Attachments Folder", "Apple pie.txt"), MAC_RECIPE.encode("mac_roman"))
    path = "Macintosh HD:Eudora Folder:Attachments Folder:"
    mac_box = ""
    for subject, name in (("Minutes", LONG_PDF), ("Recipes", LONG_TXT), ("Pie", "Apple pie.txt")):
        mac_box += (f"From ???@??? Mon Dec 13 18:45:29 2010\rFrom: Bob <bob@example.com>\rSubject: {subject}\r"
                    f"Date: Mon, 13 Dec 2010 18:45:29 -0600\r\rSee attached.\r"
                    f"Attachment converted: {path}{name} (TEXT/ttxt) (0022466A)\r\r")
    write(os.path.join(mac, "Mail Folder", "In"), mac_box.encode("mac_roman"))
    return [
        (win, "In.mbx", {SUBJECT: [("Rezept.txt", RECIPE.encode("windows-1252"), "windows-1252"),
                                   ("Ann.vcf", VCARD.encode("utf-8"), "utf-8")]}),
        (other, "In.mbx", {"The plan": [("plan.pdf", PDF, None)]}),
        (mac, "In", {"Minutes": [(LONG_PDF, PDF, None)], "Recipes": [],
                     "Pie": [("Apple pie.txt", MAC_RECIPE.encode("mac_roman"), "macintosh")]}),
    ]


def output_of(destination, name):
    for folder, _, files in os.walk(destination):
        for file in files:
            if file == name or file.endswith(":" + name):
                return os.path.join(folder, file)
    return None


def check_part(where, part, name, data, charset):
    check(part.get_filename() == name, f"{where}: part named {part.get_filename()!r}, not {name!r}")
    check(part.get_payload(decode=True) == data, f"{where}: {name}: the bytes differ")
    got = part.get_param("charset")
    check((got or "").lower() == (charset or ""), f"{where}: {name}: charset {got!r}, not {charset!r}")
    if charset:  # what a reader shows: the text as it was written
        check(part.get_content() == data.decode(charset), f"{where}: {name}: the text reads back differently")


def check_folder(cli, work, folder, name, expected):
    out = os.path.join(work, os.path.relpath(folder, work).replace("/", "-") + "-out")
    os.makedirs(out)
    env = dict(os.environ, HOME=work, LANG="C")
    result = subprocess.run([cli, folder, out], env=env, capture_output=True)
    if not check(result.returncode == 0, f"{folder}: exit {result.returncode}: {result.stderr.decode(errors='replace')}"):
        return
    path = output_of(out, name)
    if not check(path is not None, f"{folder}: no output {name}"):
        return
    seen = set()
    for raw in (mailbox.mbox(path).get_bytes(key) for key in mailbox.mbox(path).keys()):
        message = email.message_from_bytes(raw, policy=email.policy.default)
        subject = str(message["Subject"])
        where = f"{os.path.basename(folder)}: {subject!r}"
        check(subject in expected, f"{where}: not a subject written (a leading space?)")
        files = expected.get(subject, [])
        seen.add(subject)
        parts = [p for p in message.walk() if p.get_filename()]
        check(len(parts) == len(files), f"{where}: {len(parts)} parts for {len(files)} files")
        for part, (file, data, charset) in zip(parts, files):
            check_part(where, part, file, data, charset)
        if not files:
            check(b"Attachment converted: " in raw, f"{where}: the line of a file that two names fit is gone")
        check(not message.defects and all(not p.defects for p in message.walk()), f"{where}: defects")
    check(seen == set(expected), f"{folder}: messages {sorted(seen)} for {sorted(expected)}")


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    with tempfile.TemporaryDirectory() as work:
        for folder, name, expected in build(work):
            check_folder(sys.argv[1], work, folder, name, expected)
    for failure in failures:
        print("FAIL:", failure)
    print("lived-in attachments:", "failed" if failures else "read back as written")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
