#!/usr/bin/env python3
"""A Maildir delivery killed (SIGKILL) part way, then run again.

usage: maildir_interrupted.py TARNWICK_CLI

Converts a mailbox of 800 messages with --format maildir and kills the process as
soon as the first messages are in a cur/ folder. The mailbox is filled in a hidden
staging folder in the destination's tmp/ and moved into place only when whole: after
the kill there is no ".In" that looks finished, doveadm (when installed) lists no
mailbox but INBOX, and every file in the staged cur/ is a whole message, byte for byte
the message the next, complete run delivers. That run delivers every message exactly
once into ".In", removes the interrupted run's staging folder (no process holds it any
more) and says so.
"""
import email, os, shutil, signal, subprocess, sys, tempfile, time

COUNT = 800


def env(home):
    return dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, "config"), LC_ALL="C.UTF-8", TZ="UTC")


def messages(folder):
    cur = os.path.join(folder, "cur")
    return {name: open(os.path.join(cur, name), "rb").read() for name in os.listdir(cur)}


def subject(data):
    return email.message_from_bytes(data)["Subject"]


def staged_cur(out):
    staging = os.path.join(out, "tmp")
    for name in os.listdir(staging) if os.path.isdir(staging) else []:
        for number in os.listdir(os.path.join(staging, name)):
            cur = os.path.join(staging, name, number, "cur")
            if os.path.isdir(cur) and os.listdir(cur):
                return os.path.dirname(cur)
    return None


def dovecot_mailboxes(work, out):
    """The mailboxes doveadm finds in the Maildir++ tree `out`, or None without doveadm."""
    if not shutil.which("doveadm"):
        return None
    for sub in ("run", "state"):
        os.makedirs(os.path.join(work, sub), exist_ok=True)
    conf = os.path.join(work, "dovecot.conf")
    uid = os.getuid() or 65534
    with open(conf, "w") as f:
        f.write("mail_location = maildir:%s:UTF-8\nfirst_valid_uid = 0\nfirst_valid_gid = 0\nmail_uid = %d\nmail_gid = %d\n"
                "base_dir = %s/run\nstate_dir = %s/state\nlog_path = %s/dovecot.log\nssl = no\n"
                % (out, uid, uid, work, work, work))
    if uid == 65534:
        subprocess.run(["chmod", "-R", "a+rwX", work], check=True)
    listed = subprocess.run(["doveadm", "-c", conf, "mailbox", "list"], env=dict(os.environ, USER="tester", HOME=work),
                            capture_output=True, text=True)
    return sorted(listed.stdout.split("\n")[:-1]) if listed.returncode == 0 else ["doveadm failed: " + listed.stderr]


def main():
    cli = sys.argv[1]
    problems = []
    with tempfile.TemporaryDirectory() as work:
        source, out = os.path.join(work, "In"), os.path.join(work, "out")
        os.makedirs(out)
        body = b"A line of the body, long enough to be a line of a real message.\n" * 12
        with open(source, "wb") as f:
            for n in range(COUNT):
                f.write(b"From sender@example.org Mon Jan  1 00:00:%02d 2001\nSubject: Message %d\n\n" % (n % 60, n) + body + b"\n")
        args = [cli, "--format", "maildir", "--no-toc", "--no-convert-encodings", source, out]
        run = subprocess.Popen(args, env=env(work), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 60
        placed = os.path.join(out, ".In", "cur")
        while time.time() < deadline and run.poll() is None and not staged_cur(out) \
                and not (os.path.isdir(placed) and os.listdir(placed)):
            time.sleep(0.001)
        if run.poll() is not None:
            print("SKIP the conversion ended before it could be killed")
            return 77
        run.send_signal(signal.SIGKILL)
        run.wait()
        staged = staged_cur(out) or os.path.join(out, ".In")
        cut = messages(staged)
        if os.path.exists(os.path.join(out, ".In")):
            problems.append("the interrupted run left a mailbox .In in place")
        listed = dovecot_mailboxes(work, out)
        if listed is not None and listed != ["INBOX"]:
            problems.append("doveadm lists %r after the kill" % listed)
        again = subprocess.run(args, env=env(work), capture_output=True)
        if again.stdout.strip() != b"Completed":
            problems.append("the run after the kill: %r %r" % (again.stdout, again.stderr[-300:]))
            whole = {}
        else:
            whole = messages(os.path.join(out, ".In"))
        by_subject = {}
        for data in whole.values():
            by_subject.setdefault(subject(data), []).append(data)
        if len(whole) != COUNT or any(len(v) != 1 for v in by_subject.values()):
            problems.append("the run after the kill delivered %d files for %d subjects" % (len(whole), len(by_subject)))
        for name, data in cut.items():
            if by_subject.get(subject(data), [None])[0] != data:
                problems.append("cur/%s is not a whole message" % name)
        if staged != os.path.join(out, ".In"):
            left = os.path.dirname(staged)
            if os.path.exists(left):
                problems.append("the run after the kill left the interrupted staging folder %s" % left)
            if ("'%s' was left by an interrupted run: deleted" % left).encode() not in again.stderr:
                problems.append("the run after the kill did not say it deleted %s" % left)
        listed = dovecot_mailboxes(work, out)
        if listed is not None and listed != ["INBOX", "In"]:
            problems.append("doveadm lists %r after the second run" % listed)
        print("killed with %d of %d messages staged; the next run delivered %d into .In; doveadm: %s"
              % (len(cut), COUNT, len(whole), listed))
    for problem in problems:
        print("FAIL", problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
