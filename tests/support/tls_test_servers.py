#!/usr/bin/python3
"""TLS servers for the Windows TLS tests, started and stopped as ctest fixtures (a test program
under wine cannot start or stop a Linux one):

    tls_test_servers.py start STATE_DIR --host HOST
    tls_test_servers.py stop STATE_DIR

"start" makes certificates with the openssl command (an authority the tests trust, one they do
not, a server certificate for HOST, one for another name, a self-signed one), starts one process
that listens on HOST with a port per server, and writes STATE_DIR/servers.txt, one line each,
fields separated by tabs (the first says where they listen):

    host  HOST
    NAME  PORT  SHA256_FINGERPRINT       (as `openssl x509 -fingerprint -sha256` prints it)
    unavailable  REASON

the trusted authority as STATE_DIR/ca.der, and the host's trusted certificates with it as
STATE_DIR/roots.crt. The servers:

    trusted        certificate from the trusted authority; says "reused 0\\n" or "reused 1\\n"
                   (whether the handshake resumed a session), then echoes everything until the
                   client's close_notify, which it answers with its own
    tls12          the same, at most TLS 1.2
    unknown-ca     the same, certificate from the authority nobody trusts
    wrong-name     the same, certificate from the trusted authority for another name
    self-signed    the same, self-signed certificate for HOST
    closing        trusted certificate; sends "bye\\n" and close_notify, then waits
    garbage-hello  answers the client's hello with bytes that are no TLS, then waits
    garbage-record after the handshake, a record that does not decrypt, then waits
    renegotiating  openssl s_server, TLS 1.2: on a line "go" from the client it asks for a new
                   handshake, and a second later sends "after\n" (one client at a time)

A wait ends when the client closes, or after a minute.
"""
import os
import signal
import socket
import ssl
import subprocess
import sys
import threading
import time

OPENSSL = "openssl"
HOST_BUNDLE = "/etc/ssl/certs/ca-certificates.crt"
WAIT = 60


def run(*argv):
    subprocess.run(argv, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def make_certificates(state, host):
    def path(name):
        return os.path.join(state, name)

    ext = path("server.ext")

    def key(name):
        run(OPENSSL, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "30", "-subj", "/CN=" + name,
            "-keyout", path(name + ".key"), "-out", path(name + ".pem"),
            "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign")

    def issue(name, ca, cn, alt):
        with open(ext, "w") as f:
            f.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\n"
                    "extendedKeyUsage=serverAuth\nsubjectAltName=%s\n" % alt)
        run(OPENSSL, "req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=" + cn, "-keyout", path(name + ".key"),
            "-out", path(name + ".csr"))
        run(OPENSSL, "x509", "-req", "-in", path(name + ".csr"), "-CA", path(ca + ".pem"), "-CAkey", path(ca + ".key"),
            "-CAcreateserial", "-days", "30", "-extfile", ext, "-out", path(name + ".pem"))

    key("Skelder Test Authority")
    os.rename(path("Skelder Test Authority.pem"), path("ca.pem"))
    os.rename(path("Skelder Test Authority.key"), path("ca.key"))
    key("Skelder Unknown Authority")
    os.rename(path("Skelder Unknown Authority.pem"), path("rogue-ca.pem"))
    os.rename(path("Skelder Unknown Authority.key"), path("rogue-ca.key"))
    run(OPENSSL, "x509", "-in", path("ca.pem"), "-outform", "DER", "-out", path("ca.der"))
    # The host's trusted certificates and the test authority, for tests that trust it (wine
    # reads the host's bundle: tests/support/wine/with-host-roots.sh).
    with open(path("roots.crt"), "w") as out:
        if os.path.exists(HOST_BUNDLE):
            with open(HOST_BUNDLE) as f:
                out.write(f.read())
        with open(path("ca.pem")) as f:
            out.write(f.read())
    # The address as an address only, as a server named by its address has it: no name to match.
    address = "IP:" + host
    issue("server", "ca", "Skelder test server", address)
    issue("unknown-ca", "rogue-ca", "Skelder test server", address)
    issue("wrong-name", "ca", "elsewhere.invalid", "DNS:elsewhere.invalid")
    run(OPENSSL, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "30", "-subj", "/CN=Skelder test server",
        "-addext", "subjectAltName=" + address, "-keyout", path("self-signed.key"), "-out", path("self-signed.pem"))


def fingerprint(state, name):
    out = subprocess.run([OPENSSL, "x509", "-noout", "-fingerprint", "-sha256", "-in",
                          os.path.join(state, name + ".pem")], check=True, capture_output=True, text=True).stdout
    return out.strip().split("=", 1)[1]


SERVERS = {  # name: certificate, behaviour, highest protocol
    "trusted": ("server", "echo", None),
    "tls12": ("server", "echo", ssl.TLSVersion.TLSv1_2),
    "unknown-ca": ("unknown-ca", "echo", None),
    "wrong-name": ("wrong-name", "echo", None),
    "self-signed": ("self-signed", "echo", None),
    "closing": ("server", "closing", None),
    "garbage-hello": ("server", "garbage-hello", None),
    "garbage-record": ("server", "garbage-record", None),
}


def wait_for_close(sock):
    """Until the client closes or the wait is over, taking whatever comes."""
    sock.settimeout(WAIT)
    try:
        while sock.recv(4096):
            pass
    except (OSError, ssl.SSLError):
        pass


def serve_one(raw, context, behaviour):
    tls = None
    raw.settimeout(WAIT)
    try:
        if behaviour == "garbage-hello":
            raw.recv(4096)
            raw.sendall(b"220 no TLS here\r\n" * 64)
            wait_for_close(raw)
            return
        tls = context.wrap_socket(raw, server_side=True)
        if behaviour == "closing":
            tls.sendall(b"bye\n")
            wait_for_close(tls.unwrap())
            return
        if behaviour == "garbage-record":
            tls.sendall(b"sane\n")
            # Straight onto the socket, past the TLS layer: application data that cannot decrypt.
            os.write(tls.fileno(), b"\x17\x03\x03\x00\x40" + os.urandom(64))
            wait_for_close(tls)
            return
        tls.sendall(b"reused %d\n" % int(tls.session_reused))
        while True:
            data = tls.recv(65536)
            if not data:  # the client's close_notify (a bare end raises)
                tls.unwrap()
                return
            tls.sendall(data)
    except (OSError, ssl.SSLError, ValueError) as e:
        sys.stderr.write("%s: %r\n" % (behaviour, e))
    finally:
        raw.close()
        if tls:
            tls.close()


def renegotiating(state, host):
    """openssl s_server at TLS 1.2 (Python's ssl cannot start a renegotiation): on a line "go"
    from the client it renegotiates and, a moment later, sends "after\\n"."""
    probe = socket.socket()
    probe.bind((host, 0))
    port = probe.getsockname()[1]
    probe.close()
    server = subprocess.Popen([OPENSSL, "s_server", "-accept", "%s:%d" % (host, port), "-tls1_2", "-ign_eof",
                               "-cert", os.path.join(state, "server.pem"), "-key", os.path.join(state, "server.key")],
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                              bufsize=1)

    def drive():
        for line in server.stdout:
            if line.strip() == "go":
                server.stdin.write("r\n")
                server.stdin.flush()
                time.sleep(1)
                server.stdin.write("after\n")
                server.stdin.flush()

    threading.Thread(target=drive, daemon=True).start()
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline and server.poll() is None:
        try:
            socket.create_connection((host, port), timeout=1).close()
            break
        except OSError:
            time.sleep(0.05)
    return "%s\t%d\t%s" % ("renegotiating", port, fingerprint(state, "server"))


def serve(state, host):
    lines = ["host\t" + host]
    listeners = []
    for name, (cert, behaviour, highest) in SERVERS.items():
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(os.path.join(state, cert + ".pem"), os.path.join(state, cert + ".key"))
        if highest:
            context.maximum_version = highest
        listener = socket.socket()
        listener.bind((host, 0))
        listener.listen(16)
        listeners.append((listener, context, behaviour))
        lines.append("%s\t%d\t%s" % (name, listener.getsockname()[1], fingerprint(state, cert)))

    def accept(listener, context, behaviour):
        while True:
            raw, _ = listener.accept()
            threading.Thread(target=serve_one, args=(raw, context, behaviour), daemon=True).start()

    for args in listeners:
        threading.Thread(target=accept, args=args, daemon=True).start()
    lines.append(renegotiating(state, host))
    with open(os.path.join(state, "servers.tmp"), "w") as f:
        f.write("\n".join(lines) + "\n")
    os.rename(os.path.join(state, "servers.tmp"), os.path.join(state, "servers.txt"))
    while True:
        time.sleep(3600)


def stop(state):
    try:
        with open(os.path.join(state, "server.pid")) as f:
            pid = int(f.read().strip() or 0)
        os.remove(os.path.join(state, "server.pid"))
    except (OSError, ValueError):
        return
    if pid > 0:
        try:
            os.killpg(pid, signal.SIGTERM)
        except OSError:
            pass


def start(state, host):
    try:
        make_certificates(state, host)
    except (OSError, subprocess.CalledProcessError) as e:
        detail = getattr(e, "stderr", b"") or b""
        return "unavailable\tcertificates could not be made with %s: %s %s" % (
            OPENSSL, e, detail.decode("latin-1").strip().replace("\n", " | ")[-200:])
    out = open(os.path.join(state, "server.out"), "wb")
    proc = subprocess.Popen([sys.executable, os.path.abspath(__file__), "serve", state, "--host", host],
                            stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                            start_new_session=True, close_fds=True)
    with open(os.path.join(state, "server.pid"), "w") as f:
        f.write(str(proc.pid))
    deadline = time.monotonic() + 15
    while time.monotonic() < deadline and proc.poll() is None:
        if os.path.exists(os.path.join(state, "servers.txt")):
            return None
        time.sleep(0.05)
    with open(os.path.join(state, "server.out"), "rb") as f:
        why = f.read().decode("latin-1").strip().replace("\n", " | ")[-300:]
    return "unavailable\tthe servers did not start on %s: %s" % (host, why)


def main(argv):
    if len(argv) < 2 or argv[0] not in ("start", "stop", "serve"):
        sys.stderr.write(__doc__)
        return 64
    state = os.path.abspath(argv[1])
    options = dict(zip(argv[2::2], argv[3::2]))
    if argv[0] == "serve":
        serve(state, options["--host"])
        return 0
    stop(state)
    if argv[0] == "stop":
        return 0
    import shutil
    shutil.rmtree(state, ignore_errors=True)
    os.makedirs(state)
    os.chmod(state, 0o755)
    failure = start(state, options["--host"])
    if failure:
        stop(state)
        with open(os.path.join(state, "servers.txt"), "w") as f:
            f.write(failure + "\n")
        sys.stdout.write(failure + "\n")
    # Always 0: a server that cannot be had is the tests' to report.
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
