#!/usr/bin/env python3
"""Whole-process timings of an upload into a private Dovecot on 127.0.0.1, beside the
time of writing the same mail as a Maildir (--format maildir).

usage: bench/imap_upload.py TARNWICK_CLI [--size-mb N] [--profile win] [--mail-fsync optimized]
                            [--mail-location mdbox:~/mdbox] [--source EUDORA_FOLDER]
                            [--runs N] [--connections N] [--fresh-ext4]

A Eudora folder of N MiB is made with bench/gen_corpus.py (or --source names one made
before); then, each under
/usr/bin/time: tarnwick-cli --format maildir FOLDER OUT, and tarnwick-cli --imap
imaps://bench@127.0.0.1:PORT/Eudora FOLDER (conversion into the private copy and the
upload). Prints both, messages a second, the client's peak memory and the count the
server holds. Nothing listens or connects anywhere but 127.0.0.1.

--fresh-ext4 (as root) runs each run on a new ext4 file system of its own, made with
mkfs.ext4's defaults (a journal, as an installed system has) in a loop-mounted image:
both commands then write where nothing was deleted just before. Some file systems
(ext4 without a journal, as on some virtual machines) make a file created soon after
many were deleted cost a scan past them, which makes figures on a shared scratch disk
depend on what the run before removed."""
import argparse
import imaplib
import os
import re
import shutil
import ssl
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "imap"))
import imap_server  # noqa: E402


def timed(command, env, label):
    """Runs command under /usr/bin/time -v; returns (elapsed s, peak KB, result). The file
    system is synced first: both commands sync it (the Maildir's batches, the journal),
    and neither should pay for what was left dirty before it (a deleted run's files)."""
    os.sync()
    result = subprocess.run(["/usr/bin/time", "-v"] + command, env=env, capture_output=True, text=True,
                            stdin=subprocess.DEVNULL)
    elapsed = re.search(r"Elapsed \(wall clock\) time \(h:mm:ss or m:ss\): (\S+)", result.stderr).group(1)
    seconds = 0.0
    for part in elapsed.split(":"):
        seconds = seconds * 60 + float(part)
    peak = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", result.stderr).group(1))
    cpu = sum(float(re.search(name + r" time \(seconds\): (\S+)", result.stderr).group(1))
              for name in ("User", "System"))
    print(f"{label}: {seconds:.2f} s elapsed, {cpu:.2f} s CPU, peak {peak} KB, exit {result.returncode}")
    if result.returncode != 0:
        print(result.stdout[-2000:], result.stderr[-3000:])
    return seconds, peak, result


def start_server(work, options):
    """A new Dovecot in work/dovecot with the bench's user; the size limit of the tests left out."""
    imap_server.USERS["bench"] = ("bench-secret", "")
    os.makedirs(os.path.join(work, "dovecot"))
    server = imap_server.Dovecot(os.path.join(work, "dovecot"))
    with open(server.config) as f:
        config = f.read().replace("  quota_max_mail_size = 200K\n", "")
    if options.mail_location:
        config = config.replace("mail_location = maildir:~/Maildir", "mail_location = " + options.mail_location)
    if options.mail_fsync:
        config += f"mail_fsync = {options.mail_fsync}\n"
    with open(server.config, "w") as f:
        f.write(config)
    server.start()
    return server


def messages_on(server):
    client = imaplib.IMAP4_SSL("127.0.0.1", server.tls_port,
                               ssl_context=ssl.create_default_context(cafile=server.cert))
    client.login("bench", "bench-secret")
    typ, listed = client.list('""', "Eudora")
    delimiter = re.search(rb'\) "(.)" ', listed[0]).group(1).decode() if typ == "OK" and listed[0] else "."
    typ, data = client.select(f'"Eudora{delimiter}In"', readonly=True)
    client.logout()
    return int(data[0]) if typ == "OK" else 0


def one_run(cli, source, work, options):
    """Maildir, then the upload into a new server; True when every message arrived."""
    server = start_server(work, options)
    try:
        env = dict(os.environ, HOME=work, XDG_CONFIG_HOME=os.path.join(work, "config"),
                   XDG_CACHE_HOME=os.path.join(work, "cache"), TARNWICK_IMAP_PASSWORD="bench-secret")
        maildir = os.path.join(work, "maildir")
        os.makedirs(maildir)
        maildir_time, _, _ = timed([cli, "--quiet", "--format", "maildir", source, maildir], env, "maildir")
        messages = sum(len(os.listdir(os.path.join(maildir, name, "cur"))) for name in os.listdir(maildir)
                       if name.startswith("."))
        shutil.rmtree(maildir)
        address = f"imaps://bench@127.0.0.1:{server.tls_port}/Eudora"
        extra = ["--imap-connections", str(options.connections)] if options.connections else []
        upload_time, peak, result = timed([cli, "--imap", address, "--imap-ca", server.cert] + extra + [source],
                                          env, "upload")
        print("\n".join(line for line in result.stderr.splitlines() if line.startswith(("Uploaded", "  "))))
        on_server = messages_on(server)
        print(f"messages: {messages} converted, {on_server} on the server")
        print(f"maildir {messages / maildir_time:.0f} msg/s, upload {messages / upload_time:.0f} msg/s, "
              f"ratio {maildir_time / upload_time:.2f} (upload peak {peak} KB)")
        return on_server == messages and result.returncode == 0
    finally:
        server.stop()


def mount_fresh_ext4(folder, size_mb):
    """A new ext4 (mkfs.ext4's defaults) of eight times the corpus (the Maildir, the
    server's copy and an older client's staged copy, with their blocks and inodes), mounted
    on folder."""
    image = folder + ".img"
    with open(image, "wb") as f:
        f.truncate(max(1024, 8 * size_mb) << 20)
    subprocess.run(["mkfs.ext4", "-q", "-F", image], check=True)
    subprocess.run(["mount", "-o", "loop", image, folder], check=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("cli")
    parser.add_argument("--size-mb", type=int, default=256)
    parser.add_argument("--profile", default="win")
    parser.add_argument("--mail-fsync", default=None, help="Dovecot's mail_fsync (default: its own)")
    parser.add_argument("--mail-location", default=None, help="Dovecot's mail_location (default maildir:~/Maildir)")
    parser.add_argument("--keep", action="store_true", help="leave the work folder")
    parser.add_argument("--source", default=None, help="an existing Eudora folder instead of a new corpus")
    parser.add_argument("--runs", type=int, default=1, help="each run with a new server")
    parser.add_argument("--connections", type=int, default=None, help="--imap-connections")
    parser.add_argument("--fresh-ext4", action="store_true", help="each run on a new loop-mounted ext4 (root)")
    options = parser.parse_args()
    cli = os.path.abspath(options.cli)
    work = tempfile.mkdtemp(prefix="tarnwick-imap-bench-")
    os.chmod(work, 0o755)  # as root, Dovecot's own users must reach its files
    try:
        source = os.path.abspath(options.source) if options.source else os.path.join(work, "Eudora")
        if not options.source:
            os.makedirs(source)
            subprocess.run([sys.executable, os.path.join(HERE, "gen_corpus.py"), "--size-mb", str(options.size_mb),
                            "--profile", options.profile, os.path.join(source, "In.mbx")], check=True)
        good = True
        for number in range(options.runs):
            run_work = os.path.join(work, f"run{number + 1}")
            os.makedirs(run_work)
            if options.fresh_ext4:
                mount_fresh_ext4(run_work, options.size_mb)
            os.chmod(run_work, 0o755)
            try:
                good = one_run(cli, source, run_work, options) and good
            finally:
                if options.fresh_ext4:
                    subprocess.run(["umount", run_work], check=False)
                    os.remove(run_work + ".img")
            if not options.keep:
                shutil.rmtree(run_work, ignore_errors=True)
        return 0 if good else 1
    except imap_server.SkipServer as error:
        print(f"imap_upload: Dovecot could not run here: {error}")
        return 77
    finally:
        if options.keep:
            print("work folder:", work)
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
