#!/usr/bin/env python3
"""mutt itself reading the output, on a terminal that tmux provides.

usage: mutt_read_back.py TARNWICK_CLI

The Windows Eudora folder of tests/data/eudora is converted as README tells mutt
users to (a nested Maildir tree; Thunderbird's layout, mbox files with LF line
ends) and as an mbox tree with --no-crlf. mutt opens each mailbox read-only
(`mutt -f`, as README writes it); from its screen are read the message and unread
counts of its status line, each message's flags in the index (replied, flagged,
read or not), and each message as its pager shows it. Checked against the files: the
counts and flags of every mailbox, and no "^M" in any message, except in the mbox
tree, whose Windows mailboxes keep their CR LF, where mutt shows one on every
header line (README says so).
Exit 77 when mutt or tmux is not installed.
"""
import mailbox, os, re, shutil, subprocess, sys, tempfile, time

MUTTRC = """set folder="{folder}"
set tmpdir="{work}"
set spoolfile="{folder}"
set record=/dev/null
set sort=mailbox-order
set index_format="%4C|%Z|%s"
set status_format="STATUS %f msgs=%m unread=%u flagged=%F"
set pager_format="PAGER %C/%m"
set pager_index_lines=0
set move=no
set mark_old=no
set quit=yes
set help=no
set wait_key=no
set confirmcreate=no
set read_only=yes
"""
WAIT_SECONDS = 15


class Terminal:
    """One program in a tmux session of its own (its own server socket)."""

    sessions = 0

    def __init__(self, work, command, env):
        Terminal.sessions += 1
        self.tmux = ["tmux", "-S", os.path.join(work, "tmux-%d.socket" % Terminal.sessions)]
        subprocess.run(self.tmux + ["new-session", "-d", "-s", "t", "-x", "200", "-y", "150", *command], env=env, check=True)

    def keys(self, *keys, literal=False):
        subprocess.run(self.tmux + ["send-keys", "-t", "t"] + (["-l"] if literal else []) + list(keys), check=True)

    def screen(self):
        return subprocess.run(self.tmux + ["capture-pane", "-p", "-t", "t"], capture_output=True, text=True).stdout

    def wait_for(self, pattern):
        deadline = time.monotonic() + WAIT_SECONDS
        while True:
            screen = self.screen()
            found = re.search(pattern, screen, re.M)
            if found or time.monotonic() > deadline:
                return found, screen
            time.sleep(0.05)

    def close(self):
        subprocess.run(self.tmux + ["kill-server"], capture_output=True)


def expected_messages(path):
    """(unread, replied, flagged) of each message, as the file marks it."""
    if os.path.isdir(path):
        flags = [m.get_flags() for m in mailbox.Maildir(path, factory=None, create=False)]
        return [("S" not in f, "R" in f, "F" in f) for f in flags]
    box = mailbox.mbox(path, create=False)
    return [("R" not in (m.get("Status") or ""), "A" in (m.get("X-Status") or ""), "F" in (m.get("X-Status") or ""))
            for m in box]


def read_mailbox(terminal, count, problems, label):
    """The index and every message of the open mailbox, as mutt shows them."""
    status, screen = terminal.wait_for(r"^STATUS \S.* msgs=(\d+) unread=(\d+) flagged=(\d+)")
    if not status:
        problems.append("%s: mutt did not show the mailbox; its screen:\n%s" % (label, screen))
        return None
    flags = [line.split("|")[1] for line in screen.splitlines() if re.match(r"^\s*\d+\|", line)]
    shown = []
    for number in range(1, count + 1):
        terminal.keys(str(number), "Enter", "Enter")
        pager, page = terminal.wait_for(r"^PAGER %d/%d" % (number, count))
        if not pager:
            problems.append("%s: mutt did not show message %d; its screen:\n%s" % (label, number, page))
            return None
        shown.append(page)
        terminal.keys("i")
        terminal.wait_for(r"^STATUS ")
    return [int(n) for n in status.groups()], flags, shown


def check_output(cli, work, label, args, mailboxes, crlf, problems):
    root = os.path.join(work, label)
    home = os.path.join(work, "home")
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"), LC_ALL="C.UTF-8", TZ="UTC",
               TERM="xterm")
    source = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "eudora", "Windows Eudora Folder")
    os.makedirs(root)
    run = subprocess.run([cli, *args, source, root], env=env, capture_output=True)
    if run.returncode != 0:
        raise SystemExit("%s: conversion failed: %r" % (label, run.stdout + run.stderr[-500:]))
    with open(os.path.join(work, "muttrc"), "w") as rc:
        rc.write(MUTTRC.format(folder=root, work=work))
    for name in mailboxes:
        terminal = Terminal(work, ["mutt", "-n", "-R", "-F", os.path.join(work, "muttrc"), "-f", os.path.join(root, name)], env)
        try:
            check_mailbox(terminal, os.path.join(root, name), label + " " + name, crlf, problems)
            terminal.keys("q")
        finally:
            terminal.close()


def check_mailbox(terminal, path, label, crlf, problems):
    expected = expected_messages(path)
    seen = read_mailbox(terminal, len(expected), problems, label)
    if seen is None:
        return
    (messages, unread, flagged), flags, pages = seen
    wanted = (len(expected), sum(e[0] for e in expected), sum(e[2] for e in expected))
    if (messages, unread, flagged) != wanted:
        problems.append("%s: mutt counts messages, unread, flagged %r, the files %r" % (label, (messages, unread, flagged), wanted))
    # A Maildir's order is the order its folder lists the files in.
    if sorted(("O" in f or "N" in f, "r" in f, "!" in f) for f in flags) != sorted(expected):
        problems.append("%s: mutt's flags %r, the files' (unread, replied, flagged) %r" % (label, flags, expected))
    marked = sum("^M" in page for page in pages)
    if marked != (len(pages) if crlf else 0):
        problems.append("%s: %d of %d messages show ^M" % (label, marked, len(pages)))
    print("%s: %d messages, %d unread, flags %r, %d showing ^M" % (label, messages, unread, flags, marked))


def main():
    cli = sys.argv[1]
    for tool in ("mutt", "tmux"):
        if not shutil.which(tool):
            print("mutt_read_back: %s is not installed" % tool)
            return 77
    problems = []
    folders = ["In", "Out", "Clubs/Harbour bridge, phase 2"]
    mbx = ["In.mbx", "Out.mbx", "Clubs/Harbour bridge, phase 2.MBX"]
    with tempfile.TemporaryDirectory() as work:
        os.makedirs(os.path.join(work, "home"))
        check_output(cli, work, "maildir-tree", ["--format", "maildir", "--layout", "tree"], folders, False, problems)
        check_output(cli, work, "thunderbird", ["--layout", "thunderbird"],
                     ["In", "Out", "Clubs.sbd/Harbour bridge, phase 2"], False, problems)
        # Plain mbox files keep a Windows mailbox's CR LF even with --no-crlf.
        check_output(cli, work, "mbox-tree", ["--layout", "tree", "--no-crlf"], mbx, True, problems)
        if os.listdir(os.path.join(work, "home")):
            problems.append("mutt wrote into its home folder: %r" % os.listdir(os.path.join(work, "home")))
    for problem in problems:
        print("FAIL", problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
