#!/usr/bin/python3
"""A pyftpdlib server for the tests of deployments over several FTP sessions. Its command log
(pyftpd_server.py's, "PASS ****" for a password) names the session of every line:

  S<n> <command line>     a command of session n (numbered from 1 as sessions connect)
  S<n> #open <count>      session n connected; count: sessions open now, this one included
  S<n> #close <count>     session n ended; count: sessions still open

and it can misbehave on demand:

  --max-sessions N   a session beyond N at once is refused (421), as a host that limits
                     connections per address does;
  --hold SECONDS     the final reply to every upload comes SECONDS after the data arrived;
  --refuse NAME      an upload of a file named NAME is refused (550);
  --reset NAME       an upload of a file named NAME resets its control connection (RST).
"""
import argparse
import itertools
import os
import socket
import struct

from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

from pyftpd_server import add_common_arguments, logging_handler, make_authorizer


def main():
    parser = argparse.ArgumentParser()
    add_common_arguments(parser)
    parser.add_argument("--max-sessions", type=int, default=0)
    parser.add_argument("--hold", type=float, default=0.0)
    parser.add_argument("--refuse", default="")
    parser.add_argument("--reset", default="")
    args = parser.parse_args()

    authorizer, _ = make_authorizer(args)
    log = open(args.log, "a", buffering=1, encoding="latin-1")
    numbers = itertools.count(1)
    state = {"open": 0}

    class ParallelHandler(logging_handler(args, authorizer, "skelder parallel test server ready")):
        hold_final_reply = False

        def on_connect(self):
            self.session = next(numbers)
            state["open"] += 1
            log.write("S%d #open %d\n" % (self.session, state["open"]))

        def on_disconnect(self):
            if not hasattr(self, "session"):
                return  # refused before it was served
            state["open"] -= 1
            log.write("S%d #close %d\n" % (self.session, state["open"]))

        def handle_max_cons_per_ip(self):
            log.write("S0 #refused: too many sessions\n")
            return super().handle_max_cons_per_ip()

        def pre_process_command(self, line, cmd, arg):
            # The base class logs the bare line; this one says whose it is.
            log.write("S%d %s\n" % (self.session, "PASS ****" if cmd == "PASS" else line))
            return FTPHandler.pre_process_command(self, line, cmd, arg)

        def ftp_STOR(self, file, mode="w"):
            name = os.path.basename(file)
            if args.refuse and name == args.refuse:
                self.respond("550 Refused by the test server.")
                return None
            if args.reset and name == args.reset:
                self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                self.close()
                return None
            self.hold_final_reply = args.hold > 0
            return super().ftp_STOR(file, mode)

        def respond(self, resp, *rest, **named):
            if self.hold_final_reply and resp.startswith("226"):
                self.hold_final_reply = False
                self.ioloop.call_later(args.hold, lambda: FTPHandler.respond(self, resp, *rest, **named))
                return None
            return super().respond(resp, *rest, **named)

    server = FTPServer((args.host, args.port), ParallelHandler)
    server.max_cons = 256
    server.max_cons_per_ip = args.max_sessions
    if args.port_file:
        with open(args.port_file + ".part", "w") as f:
            f.write("%d\n" % server.socket.getsockname()[1])
        os.replace(args.port_file + ".part", args.port_file)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
