#!/usr/bin/python3
"""A TLS server for the TLS backend's tests: each connection is taken through the handshake,
its first line is sent back, then the server sends close_notify and closes. One connection at a
time, until stopped. With --max-version 1.1 it speaks nothing newer than TLS 1.1."""
import argparse
import os
import socket
import ssl


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", required=True)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--max-version", default="")
    args = parser.parse_args()

    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)
    if args.max_version == "1.1":
        context.set_ciphers("DEFAULT@SECLEVEL=0")
        context.minimum_version = ssl.TLSVersion.TLSv1
        context.maximum_version = ssl.TLSVersion.TLSv1_1

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((args.host, 0))
    listener.listen(8)
    with open(args.port_file + ".part", "w") as f:
        f.write("%d\n" % listener.getsockname()[1])
    os.replace(args.port_file + ".part", args.port_file)

    while True:
        conn, _ = listener.accept()
        conn.settimeout(10)
        try:
            tls = context.wrap_socket(conn, server_side=True)
            line = b""
            while not line.endswith(b"\n"):
                chunk = tls.recv(4096)
                if not chunk:
                    break
                line += chunk
            tls.sendall(line)
            conn = tls.unwrap()  # close_notify
        except (OSError, ssl.SSLError):
            pass
        finally:
            conn.close()


if __name__ == "__main__":
    main()
