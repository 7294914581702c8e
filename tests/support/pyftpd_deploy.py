#!/usr/bin/python3
"""A pyftpdlib server for the FTP deployment tests, with the command log of pyftpd_server.py
(one line per command received, "PASS ****" for a password) and six ways to misbehave:

  --readonly DIR   uploads below DIR (relative to the root) are refused (550), as a server's
                   own permissions would refuse them;
  --stall NAME     an upload of a file named NAME stops being read after its first bytes and is
                   never answered: a server that stops answering in mid-transfer;
  --drop-retr NAME a download of a file named NAME closes the control connection unanswered:
                   a connection lost in the middle of a fetch;
  --slow NAME      the final reply to an upload of a file named NAME comes only --slow-seconds
                   after the data arrived, so the client blocks in that transfer for a while;
  --no-active      PORT is refused (500), as by a server whose active mode is off;
  --echo-password  a refused log-in quotes the password it was given.
"""
import argparse
import os

from pyftpdlib.handlers import DTPHandler, FTPHandler

from pyftpd_server import add_common_arguments, logging_handler, make_authorizer, serve


def main():
    parser = argparse.ArgumentParser()
    add_common_arguments(parser)
    parser.add_argument("--readonly", action="append", default=[])
    parser.add_argument("--stall", default="")
    parser.add_argument("--slow", default="")
    parser.add_argument("--drop-retr", default="")
    parser.add_argument("--slow-seconds", type=float, default=3.0)
    parser.add_argument("--no-active", action="store_true")
    parser.add_argument("--echo-password", action="store_true")
    args = parser.parse_args()

    authorizer, users = make_authorizer(args)
    for rel in args.readonly:
        path = os.path.join(args.root, rel)
        os.makedirs(path, exist_ok=True)
        for user in users:
            authorizer.override_perm(user, path, "elr", recursive=True)

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

    class DeployHandler(logging_handler(args, authorizer, "skelder deploy test server ready")):
        delay_final_reply = False

        def ftp_STOR(self, file, mode="w"):
            if args.slow and os.path.basename(file) == args.slow:
                self.delay_final_reply = True
            return super().ftp_STOR(file, mode)

        def ftp_PORT(self, line):
            if args.no_active:
                self.respond("500 Active mode is off here.")
                return None
            return super().ftp_PORT(line)

        def ftp_RETR(self, file):
            if args.drop_retr and os.path.basename(file) == args.drop_retr:
                self.close()
                return None
            return super().ftp_RETR(file)

        def ftp_PASS(self, line):
            self.tried_password = line
            return super().ftp_PASS(line)

        def respond(self, resp, *rest, **named):
            if args.echo_password and resp.startswith("530") and getattr(self, "tried_password", None):
                resp = "530 Login incorrect with the password %s." % self.tried_password
            if self.delay_final_reply and resp.startswith("226"):
                self.delay_final_reply = False
                self.ioloop.call_later(args.slow_seconds, lambda: FTPHandler.respond(self, resp, *rest, **named))
                return None
            return super().respond(resp, *rest, **named)

    DeployHandler.dtp_handler = DeployDTPHandler
    DeployDTPHandler.timeout = 600

    serve(args, DeployHandler)


if __name__ == "__main__":
    main()
