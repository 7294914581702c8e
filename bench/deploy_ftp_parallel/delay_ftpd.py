#!/usr/bin/python3
"""An FTP server that stands in for a distant one: pyftpdlib's threaded server (a thread per
session, so one session's waits never hold up another's) that holds back every reply by a fixed
delay. Anonymous log-ins with every right on --root.

  delay_ftpd.py --host H --port P --root DIR [--delay-ms 20]
"""
import argparse
import time
import warnings

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import ThreadedFTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--root", required=True)
    parser.add_argument("--delay-ms", type=float, default=20.0)
    args = parser.parse_args()
    delay = args.delay_ms / 1000.0

    authorizer = DummyAuthorizer()
    warnings.simplefilter("ignore")  # write rights for anonymous are what the benchmark needs
    authorizer.add_anonymous(args.root, perm="elradfmwMT")

    class DelayingHandler(FTPHandler):
        def respond(self, resp, *rest, **named):
            time.sleep(delay)
            return super().respond(resp, *rest, **named)

    DelayingHandler.authorizer = authorizer
    DelayingHandler.banner = "skelder benchmark server ready"
    server = ThreadedFTPServer((args.host, args.port), DelayingHandler)
    server.max_cons = 256
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
