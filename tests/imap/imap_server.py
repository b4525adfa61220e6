"""A private Dovecot IMAP server on 127.0.0.1 for the upload tests, and a proxy that
cuts connections. Nothing here listens or connects anywhere but 127.0.0.1."""

import os
import re
import shutil
import socket
import subprocess
import threading
import time

# user -> (password, extra userdb fields)
USERS = {
    "anna": ("anna-secret", ""),
    "quota": ("quota-secret", "userdb_quota_rule=*:storage=24K"),
    "locked": ("locked-secret", ""),
    # Announces APPENDLIMIT (RFC 7889) after login; the server itself takes up to 200K.
    "limited": ("limited-secret", "userdb_imap_capability=+APPENDLIMIT=65536"),
    # Takes messages of a few megabytes.
    "large": ("large-secret", "userdb_quota_max_mail_size=8M"),
}


class SkipServer(Exception):
    """Dovecot or openssl is missing or would not start."""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def make_certificate(folder, name, san):
    """A self-signed certificate (EC P-256) for san ("IP:127.0.0.1" or "DNS:...")."""
    key = os.path.join(folder, name + ".key")
    cert = os.path.join(folder, name + ".pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                    "-nodes", "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=tarnwick-test",
                    "-addext", "subjectAltName=" + san], check=True, capture_output=True)
    return cert, key


class Dovecot:
    def __init__(self, work):
        for tool in ("dovecot", "openssl"):
            if not shutil.which(tool) and not os.path.exists("/usr/sbin/" + tool):
                raise SkipServer(tool + " is not installed")
        self.work = work
        self.cert, self.key = make_certificate(work, "server", "IP:127.0.0.1")
        self.plain_port = free_port()
        self.tls_port = free_port()
        self.process = None
        root = os.getuid() == 0
        # Dovecot never opens mail as root: as root, the mail belongs to nobody.
        self.uid, self.gid = (65534, 65534) if root else (os.getuid(), os.getgid())
        self.homes = os.path.join(work, "homes")
        os.makedirs(self.homes)
        for sub in ("run", "state"):
            os.makedirs(os.path.join(work, sub))
        with open(os.path.join(work, "passwd"), "w") as f:
            for user, (password, extra) in USERS.items():
                home = os.path.join(self.homes, user)
                os.makedirs(home)
                f.write(f"{user}:{{PLAIN}}{password}:{self.uid}:{self.gid}::{home}::{extra}\n")
        # "locked" may not create folders below Eudora (no k right).
        with open(os.path.join(work, "acl"), "w") as f:
            f.write("Eudora user=locked lrwstipe\n")
        if root:
            # The auth and mail processes run as other users: they must reach these files.
            os.chmod(work, 0o755)
            os.chmod(os.path.join(work, "passwd"), 0o644)
            os.chown(self.homes, self.uid, self.gid)
            for user in USERS:
                os.chown(os.path.join(self.homes, user), self.uid, self.gid)
        internal = "" if root else (
            f"default_internal_user = {os.environ.get('USER') or 'nobody'}\n"
            f"default_login_user = {os.environ.get('USER') or 'nobody'}\n")
        config = f"""
protocols = imap
listen = 127.0.0.1
base_dir = {work}/run
state_dir = {work}/state
log_path = {work}/dovecot.log
{internal}first_valid_uid = 0
first_valid_gid = 0
ssl = yes
ssl_cert = <{self.cert}
ssl_key = <{self.key}
disable_plaintext_auth = no
auth_mechanisms = plain login
mail_location = maildir:~/Maildir
mail_plugins = quota acl
protocol imap {{
  mail_plugins = $mail_plugins imap_quota imap_acl
}}
plugin {{
  quota = maildir:User quota
  quota_max_mail_size = 200K
  acl = vfile:{work}/acl
}}
service imap-login {{
  inet_listener imap {{
    address = 127.0.0.1
    port = {self.plain_port}
  }}
  inet_listener imaps {{
    address = 127.0.0.1
    port = {self.tls_port}
    ssl = yes
  }}
}}
service anvil {{
  chroot =
}}
passdb {{
  driver = passwd-file
  args = {work}/passwd
}}
userdb {{
  driver = passwd-file
  args = {work}/passwd
}}
"""
        self.config = os.path.join(work, "dovecot.conf")
        with open(self.config, "w") as f:
            f.write(config)

    def start(self):
        binary = shutil.which("dovecot") or "/usr/sbin/dovecot"
        self.process = subprocess.Popen([binary, "-F", "-c", self.config],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline = time.time() + 10
        while time.time() < deadline:
            if self.process.poll() is not None:
                raise SkipServer("dovecot did not start: " + self.process.stderr.read().decode(errors="replace")
                                 + self.log())
            try:
                with socket.create_connection(("127.0.0.1", self.plain_port), timeout=1) as s:
                    if s.recv(100).startswith(b"* OK"):
                        return
            except OSError:
                time.sleep(0.05)
        self.stop()
        raise SkipServer("dovecot did not answer within 10 s" + self.log())

    def log(self, tail=3000):
        """The end of the server's log (all of it with tail=None)."""
        try:
            with open(os.path.join(self.work, "dovecot.log"), errors="replace") as f:
                return "\n" + (f.read()[-tail:] if tail else f.read())
        except OSError:
            return ""

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


class _Proxy:
    """Listens on 127.0.0.1 (port: self.port) and hands each connection to _take; the
    subclasses forward it to the server at target_port."""

    def __init__(self, target_port):
        self.target_port = target_port
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(8)
        self.listener.settimeout(0.2)
        self.port = self.listener.getsockname()[1]
        self.running = True
        self.thread = threading.Thread(target=self._accept, daemon=True)
        self.thread.start()

    def _accept(self):
        while self.running:
            try:
                client, _ = self.listener.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            self._take(client)

    def _forward(self, client, watched):
        """Pumps both ways; the client's side goes through _pump with watched."""
        server = socket.create_connection(("127.0.0.1", self.target_port))
        threading.Thread(target=self._pump, args=(client, server, watched), daemon=True).start()
        threading.Thread(target=self._pump, args=(server, client, False), daemon=True).start()

    @staticmethod
    def _close(*sockets):
        for s in sockets:
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            s.close()

    def stop(self):
        self.running = False
        self.listener.close()
        self.thread.join(timeout=2)


class CuttingProxy(_Proxy):
    """Forwards 127.0.0.1:port to the server. After cut_after bytes from the client (all
    its connections together) it closes the connection that reached it; with
    refuse_after_cut, later connections are closed at once, else they are forwarded whole."""

    def __init__(self, target_port, cut_after, refuse_after_cut):
        self.cut_after = cut_after
        self.refuse_after_cut = refuse_after_cut
        self.cut = False
        self.connections = 0
        self.sent = 0  # from the client, over all connections
        self.lock = threading.Lock()
        super().__init__(target_port)

    def _take(self, client):
        self.connections += 1
        if self.cut and self.refuse_after_cut:
            client.close()
            return
        self._forward(client, not self.cut)

    def _pump(self, source, sink, counted):
        try:
            while True:
                data = source.recv(65536)
                if not data:
                    break
                if counted:
                    with self.lock:
                        room = None if self.cut else self.cut_after - self.sent
                        self.sent += len(data)
                        if room is not None and len(data) >= room:
                            self.cut = True
                    if room is not None and len(data) >= room:
                        sink.sendall(data[:room])
                        break
                sink.sendall(data)
        except OSError:
            pass
        self._close(source, sink)


class DroppingProxy(_Proxy):
    """Forwards 127.0.0.1:port to the server's plain port, and closes a connection as
    soon as the client announces a literal over limit bytes: a server that hangs up on
    a message too large for it."""

    def __init__(self, target_port, limit):
        self.limit = limit
        self.drops = 0
        super().__init__(target_port)

    def _take(self, client):
        self._forward(client, True)

    def _pump(self, source, sink, watch):
        tail = b""
        try:
            while True:
                data = source.recv(65536)
                if not data:
                    break
                if watch:
                    seen = tail + data
                    over = [m for m in re.finditer(rb"\{(\d+)\+?\}\r\n", seen) if int(m.group(1)) > self.limit]
                    if over:
                        # What came before the announcement reaches the server.
                        sink.sendall(seen[len(tail):over[0].start()] if over[0].start() > len(tail) else b"")
                        self.drops += 1
                        break
                    tail = seen[-32:]
                sink.sendall(data)
        except OSError:
            pass
        self._close(source, sink)
