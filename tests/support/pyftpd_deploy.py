#!/usr/bin/python3
"""A pyftpdlib server for the FTP deployment tests, with the command log of pyftpd_server.py
(one line per command received, "PASS ****" for a password) and three ways to misbehave:

  --readonly DIR   uploads below DIR (relative to the root) are refused (550), as a server's
                   own permissions would refuse them;
  --stall NAME     an upload of a file named NAME stops being read after its first bytes and is
                   never answered: a server that stops answering in mid-transfer;
  --slow NAME      the final reply to an upload of a file named NAME comes only --slow-seconds
                   after the data arrived, so the client blocks in that transfer for a while.
"""
import argparse
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler
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
    parser.add_argument("--readonly", action="append", default=[])
    parser.add_argument("--stall", default="")
    parser.add_argument("--slow", default="")
    parser.add_argument("--slow-seconds", type=float, default=3.0)
    args = parser.parse_args()

    authorizer = DummyAuthorizer()
    users = []
    if args.user:
        authorizer.add_user(args.user, args.password, args.root, perm=ALL_RIGHTS)
        users.append(args.user)
    if args.anonymous:
        import warnings
        warnings.simplefilter("ignore")
        authorizer.add_anonymous(args.root, perm=ALL_RIGHTS)
        users.append("anonymous")
    for rel in args.readonly:
        path = os.path.join(args.root, rel)
        os.makedirs(path, exist_ok=True)
        for user in users:
            authorizer.override_perm(user, path, "elr", recursive=True)

    log = open(args.log, "a", buffering=1, encoding="latin-1")

    class DeployDTPHandler(DTPHandler):
        stalled = False

        def recv(self, buffer_size):
            chunk = super().recv(buffer_size)
            name = os.path.basename(getattr(self.file_obj, "name", "") or "")
            if args.stall and name == args.stall and chunk and not self.stalled:
                # Keep what came, then never read again nor answer.
                self.stalled = True
                self.del_channel()
            return chunk

    class DeployHandler(FTPHandler):
        delay_final_reply = False

        def pre_process_command(self, line, cmd, arg):
            log.write(("PASS ****" if cmd == "PASS" else line) + "\n")
            log.flush()
            return super().pre_process_command(line, cmd, arg)

        def ftp_STOR(self, file, mode="w"):
            if args.slow and os.path.basename(file) == args.slow:
                self.delay_final_reply = True
            return super().ftp_STOR(file, mode)

        def respond(self, resp, *rest, **named):
            if self.delay_final_reply and resp.startswith("226"):
                self.delay_final_reply = False
                self.ioloop.call_later(args.slow_seconds, lambda: FTPHandler.respond(self, resp, *rest, **named))
                return None
            return super().respond(resp, *rest, **named)

    DeployHandler.authorizer = authorizer
    DeployHandler.dtp_handler = DeployDTPHandler
    DeployHandler.banner = "skelder deploy test server ready"
    DeployHandler.encoding = "latin-1"
    DeployHandler.timeout = 600
    DeployDTPHandler.timeout = 600

    server = FTPServer((args.host, args.port), DeployHandler)
    server.max_cons = 64
    sys.stderr.write("listening on %s:%d\n" % (args.host, args.port))
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
