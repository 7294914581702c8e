#!/usr/bin/python3
"""A pyftpdlib server for the FTP tests: one directory, an optional user with a password,
optional anonymous access (both with every right), and a command log the tests read.

Each command line the server receives is appended to the log file as one line, before the
server answers it. Passwords never reach the log: a PASS line is written as "PASS ****".
"""
import argparse
import logging
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

ALL_RIGHTS = "elradfmwMT"


def add_common_arguments(parser):
    """The options every test server takes: where to listen, what to serve, who may log in."""
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--port-file", default="",
                        help="with --port 0: where to write the port the system gave")
    parser.add_argument("--root", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--user", default="")
    parser.add_argument("--password", default="")
    parser.add_argument("--anonymous", action="store_true")
    parser.add_argument("--tls-cert", default="",
                        help="explicit TLS required for log-ins and data, with this certificate")
    parser.add_argument("--tls-key", default="")


def make_authorizer(args):
    """The user of --user and, with --anonymous, anonymous, both with every right on --root.
    Returns the authorizer and the names it knows."""
    authorizer = DummyAuthorizer()
    users = []
    if args.user:
        authorizer.add_user(args.user, args.password, args.root, perm=ALL_RIGHTS)
        users.append(args.user)
    if args.anonymous:
        import warnings
        warnings.simplefilter("ignore")  # write rights for anonymous are what the tests want
        authorizer.add_anonymous(args.root, perm=ALL_RIGHTS)
        users.append("anonymous")
    return authorizer, users


def serve(args, handler):
    """Listens (on the port the system gives for --port 0, written to --port-file) and serves
    until stopped."""
    server = FTPServer((args.host, args.port), handler)
    server.max_cons = 256
    if args.port_file:
        port = server.socket.getsockname()[1]
        with open(args.port_file + ".part", "w") as f:
            f.write("%d\n" % port)
        os.replace(args.port_file + ".part", args.port_file)  # whole, or not there
    server.serve_forever(handle_exit=True)


def logging_handler(args, authorizer, banner, base=FTPHandler):
    """A control-connection handler that appends each command line to --log before answering
    it, with a password written as "PASS ****". With --tls-cert, the TLS handler of pyftpdlib
    (python3-openssl) that refuses log-ins and transfers in clear text."""
    log = open(args.log, "a", buffering=1, encoding="latin-1")
    if getattr(args, "tls_cert", ""):
        from pyftpdlib.handlers import TLS_FTPHandler, TLS_DTPHandler

        class TlsHandler(TLS_FTPHandler, base):
            pass
        TlsHandler.certfile = args.tls_cert
        TlsHandler.keyfile = args.tls_key
        TlsHandler.tls_control_required = True
        TlsHandler.tls_data_required = True
        base = TlsHandler

    class LoggingHandler(base):
        def pre_process_command(self, line, cmd, arg):
            log.write(("PASS ****" if cmd == "PASS" else line) + "\n")
            log.flush()
            return super().pre_process_command(line, cmd, arg)

    LoggingHandler.authorizer = authorizer
    LoggingHandler.banner = banner
    # Transfers of the size the tests use (50 MiB) must not be throttled or timed out early.
    LoggingHandler.timeout = 600
    LoggingHandler.encoding = "latin-1"
    return LoggingHandler


def main():
    parser = argparse.ArgumentParser()
    add_common_arguments(parser)
    parser.add_argument("--banner", default="skelder test server ready")
    args = parser.parse_args()

    logging.basicConfig(level=logging.WARNING, stream=sys.stderr)

    authorizer, _ = make_authorizer(args)
    serve(args, logging_handler(args, authorizer, args.banner))


if __name__ == "__main__":
    main()
