#!/usr/bin/env python3
"""TLS servers for the Windows TLS client's tests, one port per case.

Usage: tls-test-server.py DIR

Makes a test CA and server certificates in DIR with the openssl command, listens on
127.0.0.1 (echo servers, broken servers, and IMAP, POP3 and SMTP servers that take an
XOAUTH2 login), and writes DIR/ports.json ({"case": port, ...}) once every port listens. Runs
until it is killed. Nothing outside DIR is touched.
"""

import base64
import json
import os
import socket
import ssl
import subprocess
import sys
import threading
import warnings

LEAF_NAMES = "DNS:localhost,IP:127.0.0.1"
LEAF_EXT = "basicConstraints=critical,CA:FALSE\nextendedKeyUsage=serverAuth\n"

CA_CONFIG = """[ca]
default_ca = test_ca
[test_ca]
database = {dir}/index.txt
new_certs_dir = {dir}
serial = {dir}/serial
default_md = sha256
policy = any
copy_extensions = none
unique_subject = no
[any]
commonName = supplied
"""


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def issue(d, name, subject, names, dates=None):
    """A certificate for the one server key, signed by the test CA."""
    with open(os.path.join(d, name + ".ext"), "w") as f:
        f.write(LEAF_EXT + "subjectAltName=" + names + "\n")
    openssl("req", "-new", "-key", "server.key", "-subj", subject, "-out", name + ".csr", cwd=d)
    if dates is None:
        openssl("x509", "-req", "-in", name + ".csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                "-CAcreateserial", "-days", "30", "-sha256", "-extfile", name + ".ext",
                "-out", name + ".pem", cwd=d)
    else:
        # x509 -req cannot set dates in the past or the future; the ca command can.
        openssl("ca", "-batch", "-config", "ca.cnf", "-cert", "ca.pem", "-keyfile", "ca.key",
                "-in", name + ".csr", "-startdate", dates[0], "-enddate", dates[1],
                "-extfile", name + ".ext", "-notext", "-out", name + ".pem", cwd=d)


def issue_under_old_issuer(d):
    """A certificate for localhost, in its dates, whose issuer (an intermediate of the test
    CA) expired; the server sends both."""
    openssl("genrsa", "-out", "old-ca.key", "2048", cwd=d)
    with open(os.path.join(d, "old-ca.ext"), "w") as f:
        f.write("basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\n")
    openssl("req", "-new", "-key", "old-ca.key", "-subj", "/CN=Vantel Old CA", "-out",
            "old-ca.csr", cwd=d)
    openssl("ca", "-batch", "-config", "ca.cnf", "-cert", "ca.pem", "-keyfile", "ca.key",
            "-in", "old-ca.csr", "-startdate", "20200101000000Z", "-enddate", "20210102000000Z",
            "-extfile", "old-ca.ext", "-notext", "-out", "old-ca.pem", cwd=d)
    with open(os.path.join(d, "oldissuer.ext"), "w") as f:
        f.write(LEAF_EXT + "subjectAltName=" + LEAF_NAMES + "\n")
    openssl("req", "-new", "-key", "server.key", "-subj", "/CN=localhost", "-out",
            "oldissuer.csr", cwd=d)
    openssl("x509", "-req", "-in", "oldissuer.csr", "-CA", "old-ca.pem", "-CAkey", "old-ca.key",
            "-CAcreateserial", "-days", "30", "-sha256", "-extfile", "oldissuer.ext",
            "-out", "oldissuer-leaf.pem", cwd=d)
    with open(os.path.join(d, "oldissuer.pem"), "w") as chain:
        for part in ("oldissuer-leaf.pem", "old-ca.pem"):
            with open(os.path.join(d, part)) as f:
                chain.write(f.read())


def make_certificates(d):
    with open(os.path.join(d, "ca.cnf"), "w") as f:
        f.write(CA_CONFIG.format(dir=d))
    open(os.path.join(d, "index.txt"), "w").close()
    with open(os.path.join(d, "serial"), "w") as f:
        f.write("1000\n")
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key",
            "-out", "ca.pem", "-days", "30", "-subj", "/CN=Vantel Test CA",
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=d)
    openssl("genrsa", "-out", "server.key", "2048", cwd=d)
    issue(d, "trusted", "/CN=localhost", LEAF_NAMES)
    issue(d, "wrongname", "/CN=mail.example.net", "DNS:mail.example.net,DNS:*.example.net")
    # The right name in the common name alone, which names no server.
    issue(d, "commonname", "/CN=localhost", "IP:192.0.2.1")
    issue(d, "expired", "/CN=localhost", LEAF_NAMES, ("20200101000000Z", "20210102000000Z"))
    issue(d, "notyet", "/CN=localhost", LEAF_NAMES, ("20990101000000Z", "21000101000000Z"))
    issue_under_old_issuer(d)
    openssl("req", "-x509", "-key", "server.key", "-subj", "/CN=localhost", "-days", "30",
            "-addext", "subjectAltName=" + LEAF_NAMES, "-out", "selfsigned.pem", cwd=d)


def tls_context(d, cert, max_version=None):
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(os.path.join(d, cert + ".pem"), os.path.join(d, "server.key"))
    if max_version is not None:
        warnings.simplefilter("ignore", DeprecationWarning)
        # TLS 1.1 needs the lowest security level of OpenSSL 3 to be offered at all.
        ctx.set_ciphers("DEFAULT:@SECLEVEL=0")
        ctx.minimum_version = ssl.TLSVersion.TLSv1
        ctx.maximum_version = max_version
    return ctx


def echo(ctx):
    """Echoes everything; answers the client's close_notify with its own."""
    def serve(conn):
        try:
            tls = ctx.wrap_socket(conn, server_side=True)
        except (ssl.SSLError, OSError):
            return
        try:
            while True:
                data = tls.recv(65536)
                if not data:
                    break
                tls.sendall(data)
            tls.unwrap()
        except (ssl.SSLError, OSError):
            pass
        finally:
            tls.close()
    return serve


def say_bye(ctx):
    """Greets, then ends the session with close_notify and waits for the client's."""
    def serve(conn):
        try:
            tls = ctx.wrap_socket(conn, server_side=True)
            tls.sendall(b"bye\r\n")
            tls.unwrap().close()
        except (ssl.SSLError, OSError):
            conn.close()
    return serve


def cut_message(ctx):
    """A POP3 server whose answer to the first command breaks off in the message: the TCP
    connection ends without close_notify."""
    def serve(conn):
        try:
            tls = ctx.wrap_socket(conn, server_side=True)
            tls.sendall(b"+OK pop\r\n")
            line = b""
            while not line.endswith(b"\n"):
                data = tls.recv(1)
                if not data:
                    break
                line += data
            tls.sendall(b"+OK\r\nSubject: cut\r\n\r\n" + b"m" * 30000 + b"\r\n")
            # No close_notify: the TCP connection ends as it is (shutdown drops the TLS layer).
            tls.shutdown(socket.SHUT_WR)
            while tls.recv(4096):
                pass
        except (ssl.SSLError, OSError):
            pass
        finally:
            conn.close()
    return serve


XOAUTH2_USER = "tester@example.test"
XOAUTH2_TOKEN = "schannel-test-token"


def xoauth2(ctx, protocol):
    """A mail server of `protocol` ("imap", "pop3", "smtp") that lets in only the XOAUTH2
    login of XOAUTH2_USER with XOAUTH2_TOKEN, with or without an initial response, and says
    so in its answer to the next command."""
    expected = base64.b64encode(
        ("user=%s\x01auth=Bearer %s\x01\x01" % (XOAUTH2_USER, XOAUTH2_TOKEN)).encode())
    greeting = {"imap": b"* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=XOAUTH2] ready\r\n",
                "pop3": b"+OK ready\r\n",
                "smtp": b"220 localhost ESMTP ready\r\n"}[protocol]
    more = {"imap": b"+ \r\n", "pop3": b"+ \r\n", "smtp": b"334 \r\n"}[protocol]

    def serve(conn):
        try:
            tls = ctx.wrap_socket(conn, server_side=True)
            reader = tls.makefile("rb")
            tls.sendall(greeting)
            logged_in = False
            while True:
                line = reader.readline(65536)
                if not line:
                    break
                words = line.strip().split(b" ")
                tag = words[0] if protocol == "imap" else b""
                verb = (words[1] if protocol == "imap" and len(words) > 1 else words[0]).upper()
                args = words[2:] if protocol == "imap" else words[1:]
                if verb in (b"AUTHENTICATE", b"AUTH") and args and args[0].upper() == b"XOAUTH2":
                    answer = args[1] if len(args) > 1 else None
                    if answer is None:
                        tls.sendall(more)
                        answer = reader.readline(65536).strip()
                    logged_in = answer == expected
                    ok = {"imap": tag + b" OK [CAPABILITY IMAP4rev1] signed in\r\n",
                          "pop3": b"+OK signed in\r\n",
                          "smtp": b"235 2.7.0 signed in\r\n"}[protocol]
                    no = {"imap": tag + b" NO [AUTHENTICATIONFAILED] bad token\r\n",
                          "pop3": b"-ERR [AUTH] bad token\r\n",
                          "smtp": b"535 5.7.8 bad token\r\n"}[protocol]
                    tls.sendall(ok if logged_in else no)
                elif verb == b"CAPABILITY":
                    tls.sendall(b"* CAPABILITY IMAP4rev1 SASL-IR AUTH=XOAUTH2\r\n" + tag +
                                b" OK done\r\n")
                elif verb == b"CAPA":
                    tls.sendall(b"+OK\r\nSASL XOAUTH2\r\nUSER\r\n.\r\n")
                elif verb in (b"EHLO", b"HELO"):
                    tls.sendall(b"250-localhost\r\n250 AUTH XOAUTH2\r\n")
                elif verb in (b"LOGOUT", b"QUIT"):
                    bye = b"signed-in" if logged_in else b"not-signed-in"
                    tls.sendall({"imap": b"* BYE " + bye + b"\r\n" + tag + b" OK\r\n",
                                 "pop3": b"+OK " + bye + b"\r\n",
                                 "smtp": b"221 " + bye + b"\r\n"}[protocol])
                    break
                else:
                    tls.sendall({"imap": tag + b" BAD unknown\r\n", "pop3": b"-ERR unknown\r\n",
                                 "smtp": b"502 unknown\r\n"}[protocol])
            tls.unwrap()
        except (ssl.SSLError, OSError, ValueError):
            pass
        finally:
            conn.close()
    return serve


def stall(conn):
    """Takes the ClientHello and never answers."""
    try:
        while conn.recv(4096):
            pass
    except OSError:
        pass
    conn.close()


def garbage(conn):
    """Not a TLS server: answers the ClientHello in plain text."""
    try:
        conn.recv(4096)
        conn.sendall(b"HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n")
    except OSError:
        pass
    conn.close()


def close_mid_handshake(conn):
    """Reads the ClientHello and hangs up."""
    try:
        conn.recv(4096)
    except OSError:
        pass
    conn.close()


def listen(handler):
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.bind(("127.0.0.1", 0))
    sock.listen(16)

    def accept_loop():
        while True:
            conn, _ = sock.accept()
            threading.Thread(target=handler, args=(conn,), daemon=True).start()

    threading.Thread(target=accept_loop, daemon=True).start()
    return sock.getsockname()[1]


def main():
    d = os.path.abspath(sys.argv[1])
    make_certificates(d)
    handlers = {
        "trusted": echo(tls_context(d, "trusted")),
        "selfsigned": echo(tls_context(d, "selfsigned")),
        "wrongname": echo(tls_context(d, "wrongname")),
        "commonname": echo(tls_context(d, "commonname")),
        "expired": echo(tls_context(d, "expired")),
        "notyet": echo(tls_context(d, "notyet")),
        "oldissuer": echo(tls_context(d, "oldissuer")),
        "tls11": echo(tls_context(d, "trusted", ssl.TLSVersion.TLSv1_1)),
        "bye": say_bye(tls_context(d, "trusted")),
        "garbage": garbage,
        "midclose": close_mid_handshake,
        "cut": cut_message(tls_context(d, "trusted")),
        "stall": stall,
        "xoauth2-imap": xoauth2(tls_context(d, "trusted"), "imap"),
        "xoauth2-pop3": xoauth2(tls_context(d, "trusted"), "pop3"),
        "xoauth2-smtp": xoauth2(tls_context(d, "trusted"), "smtp"),
    }
    ports = {name: listen(handler) for name, handler in handlers.items()}
    with open(os.path.join(d, "ports.json.tmp"), "w") as f:
        json.dump(ports, f)
    os.replace(os.path.join(d, "ports.json.tmp"), os.path.join(d, "ports.json"))
    print(json.dumps(ports), flush=True)
    threading.Event().wait()


if __name__ == "__main__":
    main()
