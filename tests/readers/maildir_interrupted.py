#!/usr/bin/env python3
"""A Maildir delivery killed (SIGKILL) part way, then run again.

usage: maildir_interrupted.py TARNWICK_CLI

Converts a mailbox of 800 messages with --format maildir and kills the process as
soon as the first messages are in cur/. Every file in cur/ must then be a whole
message: byte for byte the same message as the next, complete run delivers. That run
writes a folder of its own (".In_2") holding every message exactly once, and adds
nothing to the interrupted one.
"""
import email, os, signal, subprocess, sys, tempfile, time

COUNT = 800


def env(home):
    return dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, "config"), LC_ALL="C.UTF-8", TZ="UTC")


def messages(folder):
    cur = os.path.join(folder, "cur")
    return {name: open(os.path.join(cur, name), "rb").read() for name in os.listdir(cur)}


def subject(data):
    return email.message_from_bytes(data)["Subject"]


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
        cur = os.path.join(out, ".In", "cur")
        deadline = time.time() + 60
        while time.time() < deadline and run.poll() is None and not (os.path.isdir(cur) and os.listdir(cur)):
            time.sleep(0.001)
        if run.poll() is not None:
            print("SKIP the conversion ended before it could be killed")
            return 77
        run.send_signal(signal.SIGKILL)
        run.wait()
        cut = messages(os.path.join(out, ".In"))
        again = subprocess.run(args, env=env(work), capture_output=True)
        if again.stdout.strip() != b"Completed":
            problems.append("the run after the kill: %r %r" % (again.stdout, again.stderr[-300:]))
            whole = {}
        else:
            whole = messages(os.path.join(out, ".In_2"))
        by_subject = {}
        for data in whole.values():
            by_subject.setdefault(subject(data), []).append(data)
        if len(whole) != COUNT or any(len(v) != 1 for v in by_subject.values()):
            problems.append("the run after the kill delivered %d files for %d subjects" % (len(whole), len(by_subject)))
        for name, data in cut.items():
            if by_subject.get(subject(data), [None])[0] != data:
                problems.append("cur/%s is not a whole message" % name)
        if messages(os.path.join(out, ".In")) != cut:
            problems.append("the run after the kill wrote into the interrupted folder")
        print("killed with %d of %d messages in cur/; the next run delivered %d into .In_2" % (len(cut), COUNT, len(whole)))
    for problem in problems:
        print("FAIL", problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
