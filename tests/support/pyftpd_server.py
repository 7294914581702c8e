#!/usr/bin/python3
"""A pyftpdlib server for the FTP tests: one directory, an optional user with a password,
optional anonymous access (both with every right), and a command log the tests read.

Each command line the server receives is appended to the log file as one line, before the
server answers it. Passwords never reach the log: a PASS line is written as "PASS ****".
"""
import argparse
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

ALL_RIGHTS = "elradfmwMT"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--root", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--user", default="")
    parser.add_argument("--password", default="")
    parser.add_argument("--anonymous", action="store_true")
    parser.add_argument("--banner", default="skelder test server ready")
    args = parser.parse_args()

    logging.basicConfig(level=logging.WARNING, stream=sys.stderr)

    authorizer = DummyAuthorizer()
    if args.user:
        authorizer.add_user(args.user, args.password, args.root, perm=ALL_RIGHTS)
    if args.anonymous:
        import warnings
        warnings.simplefilter("ignore")  # write rights for anonymous are what the tests want
        authorizer.add_anonymous(args.root, perm=ALL_RIGHTS)

    log = open(args.log, "a", buffering=1, encoding="latin-1")

    class LoggingHandler(FTPHandler):
        def pre_process_command(self, line, cmd, arg):
            shown = "PASS ****" if cmd == "PASS" else line
            log.write(shown + "\n")
            log.flush()
            return super().pre_process_command(line, cmd, arg)

    LoggingHandler.authorizer = authorizer
    LoggingHandler.banner = args.banner
    # Transfers of the size the tests use (50 MiB) must not be throttled or timed out early.
    LoggingHandler.timeout = 600
    LoggingHandler.encoding = "latin-1"

    server = FTPServer((args.host, args.port), LoggingHandler)
    server.max_cons = 256
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
