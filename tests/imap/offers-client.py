#!/usr/bin/env python3
"""What a mail client (Python's imaplib and poplib) is offered and answered, straight from
dovecot or through vantel-relay. Prints one "KEY LINE" per server line that matters, as the
server sent it (IMAP tags read TAG), for dovecot-test.sh to compare. Exits 1 with a message
when a session breaks where no relay should break it.

  offers-client.py imap PORT [compress]    greeting, CAPABILITY after login, COMPRESS and
                                           SELECT; LOGIN's reply in a session of its own
  offers-client.py pop3 PORT [USER PASS]   greeting, CAPA; then USER/PASS and STAT
  offers-client.py pop3-refused PORT USER PASS
                                           AUTH, then USER/PASS; APOP, then USER/PASS
  offers-client.py pop3-sasl PORT USER PASS
                                           logins by APOP and by AUTH PLAIN
"""
import base64
import hashlib
import imaplib
import poplib
import re
import socket
import sys

HOST = "127.0.0.1"
TIMEOUT = 10  # seconds for any one reply; a relay that swallows a command fails, not hangs


def say(key, line):
    print(key, line.decode("latin-1") if isinstance(line, bytes) else line, flush=True)


class RecordingImap(imaplib.IMAP4):
    """Keeps each line the server sends, as sent."""

    def __init__(self, port):
        self.lines = []
        super().__init__(HOST, port, timeout=TIMEOUT)

    def readline(self):
        line = super().readline()
        self.lines.append(line.rstrip(b"\r\n"))
        return line

    def take(self, prefix=None):
        """The last line kept (or the last starting with prefix), its tag masked; forgets all."""
        lines = [l for l in self.lines if prefix is None or l.startswith(prefix)]
        self.lines = []
        if not lines:
            return "(nothing)"
        line = lines[-1]
        tag = self.tagpre
        return b"TAG" + line[line.index(b" "):] if line.startswith(tag) else line


def imap(port, compress=None):
    m = RecordingImap(port)
    say("greeting", m.welcome)
    m.take()  # imaplib's own CAPABILITY before login
    m.login("tester", "secret")
    m.capability()
    say("capability", m.take(b"* CAPABILITY"))
    if compress:
        imaplib.Commands.setdefault("COMPRESS", ("AUTH", "SELECTED"))
        try:
            m._simple_command("COMPRESS", "DEFLATE")
            say("compress", m.take())
        except (m.error, OSError) as e:
            say("compress", f"failed: {e}")
        # Once a server has taken COMPRESS up, plain text from here on breaks the session.
        try:
            m.select("INBOX")
            say("select", m.take())
        except (m.error, OSError) as e:
            say("select", f"failed: {e}")
    try:
        m.logout()
    except (m.error, OSError):
        pass
    imap_login_code(port)


def imap_login_code(port):
    """LOGIN's reply as sent to a client that never asked for CAPABILITY (imaplib always
    does): the new list comes as a code in it."""
    with socket.create_connection((HOST, port), timeout=TIMEOUT) as s:
        server = s.makefile("rb")
        server.readline()
        s.sendall(b"a LOGIN tester secret\r\n")
        for line in server:
            if line.startswith(b"a "):
                say("login", b"TAG" + line[1:].rstrip(b"\r\n"))
                break
        s.sendall(b"b LOGOUT\r\n")


def reply(call, *args):
    """The server's reply line, +OK or -ERR alike."""
    try:
        return call(*args)
    except poplib.error_proto as e:
        return e.args[0]


def pop3_login(p, user, password):
    """STAT's reply after USER/PASS (which only a logged-in session gets), or the first -ERR."""
    for command in (f"USER {user}", f"PASS {password}", "STAT"):
        line = reply(p._shortcmd, command)
        if not line.startswith(b"+OK"):
            return line
    return line


def pop3_quit(p):
    try:
        p.quit()
    except (poplib.error_proto, OSError):
        pass


def pop3(port, user=None, password=None):
    p = poplib.POP3(HOST, port, timeout=TIMEOUT)
    say("greeting", p.getwelcome())
    for line in p._longcmd("CAPA")[1]:
        say("capa", line)
    if user:
        say("login", pop3_login(p, user, password))
    pop3_quit(p)


def pop3_refused(port, user, password):
    p = poplib.POP3(HOST, port, timeout=TIMEOUT)
    line = reply(p._shortcmd, "AUTH PLAIN")
    say("auth", line)
    if line.startswith(b"+"):
        reply(p._shortcmd, "*")  # the server took it up: cancel, so that the session goes on
    say("auth-then-login", pop3_login(p, user, password))
    pop3_quit(p)

    # Sent whether or not the greeting offers APOP (poplib's apop() would not even try).
    p = poplib.POP3(HOST, port, timeout=TIMEOUT)
    stamp = re.search(rb"<[^>]*>", p.getwelcome())
    digest = hashlib.md5((stamp.group(0) if stamp else b"<>") + password.encode()).hexdigest()
    say("apop", reply(p._shortcmd, f"APOP {user} {digest}"))
    say("apop-then-login", pop3_login(p, user, password))
    pop3_quit(p)


def pop3_sasl(port, user, password):
    p = poplib.POP3(HOST, port, timeout=TIMEOUT)
    say("apop", reply(p.apop, user, password))
    pop3_quit(p)
    p = poplib.POP3(HOST, port, timeout=TIMEOUT)
    plain = base64.b64encode(f"\0{user}\0{password}".encode()).decode()
    say("auth", reply(p._shortcmd, f"AUTH PLAIN {plain}"))
    pop3_quit(p)


def main(argv):
    modes = {"imap": imap, "pop3": pop3, "pop3-refused": pop3_refused, "pop3-sasl": pop3_sasl}
    if len(argv) < 3 or argv[1] not in modes:
        sys.exit(__doc__)
    try:
        modes[argv[1]](int(argv[2]), *argv[3:])
    except (OSError, imaplib.IMAP4.error, poplib.error_proto) as e:
        sys.exit(f"offers-client: {argv[1]} on port {argv[2]}: {type(e).__name__}: {e}")


if __name__ == "__main__":
    main(sys.argv)
