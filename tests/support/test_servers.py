#!/usr/bin/python3
"""Real FTP servers for a whole ctest run, started and stopped as ctest fixtures.

A Windows test program under wine can start a Linux program but can neither wait for it nor stop
it, so the servers the end-to-end tests deploy to are started here, on the Linux side, before the
tests and stopped after them:

    test_servers.py start STATE_DIR --pyftpd HOST --vsftpd HOST [--stalling HOST] [--ftps HOST]
    test_servers.py stop STATE_DIR

With --stalling a third server, "pyftpdlib-stall", takes uploads like the first but stops
reading an upload of a file named "stall.bin" after its first bytes and never answers it: a
transfer that blocks, for the tests that cancel in the middle of one.

With --ftps a server "pyftpdlib-tls" takes the user's log-in only over explicit TLS, and every
transfer only over TLS too, with a self-signed certificate for HOST that the openssl command
makes here (STATE_DIR/ftps.pem): the tests trust it by its SHA-256 fingerprint, the line's eighth
field, as `openssl x509 -fingerprint -sha256` prints it. It is pyftpdlib's TLS handler, not
vsftpd: vsftpd requires every data connection to resume the control connection's TLS session,
and Schannel under wine resumes none.

Each listens on port 21 of its loopback address (the add-in always connects to the default
port), which needs root. STATE_DIR/servers.txt tells the tests what runs, one line per server,
fields separated by tabs:

    NAME  HOST  ROOT  FTP_ROOT  USER  PASSWORD  COMMAND_LOG  [SHA256_FINGERPRINT]
    NAME  unavailable  REASON

ROOT is the served folder on disk, FTP_ROOT the name the server gives it. The roots may be
written by anyone (wine may run as another user), and "start" always exits 0: a server that
cannot be had is the tests' to report, as they do for servers they start themselves.
"""
import os
import shutil
import signal
import socket
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
PYTHON = "/usr/bin/python3"
VSFTPD = "/usr/sbin/vsftpd"
OPENSSL = "openssl"
PORT = 21
USER, PASSWORD = "deployer", "open sesame"


def listening(host, port):
    try:
        with socket.create_connection((host, port), timeout=1):
            return True
    except OSError:
        return False


def spawn(state, name, argv):
    """Starts a server detached from ctest (its own session, no inherited pipes)."""
    out = open(os.path.join(state, name + ".out"), "wb")
    proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                            start_new_session=True, close_fds=True)
    with open(os.path.join(state, name + ".pid"), "w") as f:
        f.write(str(proc.pid))
    return proc


def vsftpd_config(state, host, root, log):
    empty = os.path.join(state, "vsftpd-empty")
    os.makedirs(empty, exist_ok=True)
    os.chmod(empty, 0o755)
    with open(os.path.join(HERE, "vsftpd.conf.in")) as f:
        text = f.read()
    for key, value in (("@HOST@", host), ("@PORT@", str(PORT)), ("@ROOT@", root),
                       ("@EMPTY_DIR@", empty), ("@LOG@", log), ("@ANONYMOUS@", "YES")):
        text = text.replace(key, value)
    path = os.path.join(state, "vsftpd.conf")
    with open(path, "w") as f:
        f.write(text)
    return path


def self_signed_certificate(state, host):
    """A certificate for the address HOST (the name a location gives), made with the openssl
    command; its files and its SHA-256 fingerprint ("AB:CD:..."), or raises."""
    cert, key = os.path.join(state, "ftps.pem"), os.path.join(state, "ftps.key")
    subprocess.run([OPENSSL, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "30",
                    "-subj", "/CN=Skelder FTPS test server", "-addext", "subjectAltName=IP:" + host,
                    "-keyout", key, "-out", cert], check=True, capture_output=True)
    out = subprocess.run([OPENSSL, "x509", "-noout", "-fingerprint", "-sha256", "-in", cert],
                         check=True, capture_output=True, text=True).stdout
    return cert, key, out.strip().split("=", 1)[1]


def start_one(state, name, host):
    root = os.path.join(state, name + "-root")
    log = os.path.join(state, name + "-commands.log")
    os.makedirs(root)
    os.chmod(root, 0o1777)
    if listening(host, PORT):
        return "%s\tunavailable\tsomething already listens on %s:%d" % (name, host, PORT)
    extra = []
    if name.startswith("pyftpdlib"):
        if subprocess.call([PYTHON, "-c", "import pyftpdlib"], stderr=subprocess.DEVNULL) != 0:
            return "%s\tunavailable\tpyftpdlib is not installed for %s" % (name, PYTHON)
        stall = name == "pyftpdlib-stall"
        script = "pyftpd_deploy.py" if stall else "pyftpd_server.py"
        argv = [PYTHON, os.path.join(HERE, script), "--host", host, "--port", str(PORT),
                "--root", root, "--log", log, "--user", USER, "--password", PASSWORD, "--anonymous"]
        if stall:
            argv += ["--stall", "stall.bin"]
        if name == "pyftpdlib-tls":
            if subprocess.call([PYTHON, "-c", "import OpenSSL"], stderr=subprocess.DEVNULL) != 0:
                return "%s\tunavailable\tpython3-openssl is not installed for %s" % (name, PYTHON)
            try:
                cert, key, fingerprint = self_signed_certificate(state, host)
            except (OSError, subprocess.CalledProcessError) as e:
                detail = (getattr(e, "stderr", b"") or b"").decode("latin-1").strip().replace("\n", " | ")
                return "%s\tunavailable\tno certificate from %s: %s %s" % (name, OPENSSL, e, detail[-200:])
            # No anonymous log-in: a log-in here is always the user's, over TLS.
            argv = argv[:-1] + ["--tls-cert", cert, "--tls-key", key]
            extra = [fingerprint]
        ftp_root, user, password = "/", USER, PASSWORD
    else:
        if not os.access(VSFTPD, os.X_OK):
            return "%s\tunavailable\tvsftpd is not installed" % name
        argv = [VSFTPD, vsftpd_config(state, host, root, log)]
        # Sessions run as the launching user without a change of root: names are real paths.
        ftp_root, user, password = root, "anonymous", ""
    proc = spawn(state, name, argv)
    deadline = time.monotonic() + 15
    while time.monotonic() < deadline and proc.poll() is None and not listening(host, PORT):
        time.sleep(0.05)
    if proc.poll() is not None or not listening(host, PORT):
        with open(os.path.join(state, name + ".out"), "rb") as f:
            why = f.read().decode("latin-1").strip().replace("\n", " | ")[-300:]
        return "%s\tunavailable\tdid not start on %s:%d (needs root): %s" % (name, host, PORT, why)
    return "\t".join([name, host, root, ftp_root, user, password, log] + extra)


def alive(pid):
    """Whether the process still runs (a zombie nobody reaps does not: the servers' parent, the
    start command, ended long ago)."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def stop(state):
    for entry in os.listdir(state) if os.path.isdir(state) else []:
        if not entry.endswith(".pid"):
            continue
        with open(os.path.join(state, entry)) as f:
            pid = int(f.read().strip() or 0)
        os.remove(os.path.join(state, entry))
        if pid <= 0:
            continue
        try:
            os.killpg(pid, signal.SIGTERM)
        except OSError:
            continue
        for _ in range(100):
            if not alive(pid):
                break
            time.sleep(0.02)
        else:
            try:
                os.killpg(pid, signal.SIGKILL)
            except OSError:
                pass


def main(argv):
    if len(argv) < 2 or argv[0] not in ("start", "stop"):
        sys.stderr.write(__doc__)
        return 64
    state = os.path.abspath(argv[1])
    stop(state)
    if argv[0] == "stop":
        return 0
    options = dict(zip(argv[2::2], argv[3::2]))
    shutil.rmtree(state, ignore_errors=True)
    os.makedirs(state)
    os.chmod(state, 0o755)
    lines = [start_one(state, "pyftpdlib", options["--pyftpd"]),
             start_one(state, "vsftpd", options["--vsftpd"])]
    if "--stalling" in options:
        lines.append(start_one(state, "pyftpdlib-stall", options["--stalling"]))
    if "--ftps" in options:
        lines.append(start_one(state, "pyftpdlib-tls", options["--ftps"]))
    with open(os.path.join(state, "servers.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")
    sys.stdout.write("\n".join(lines) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
