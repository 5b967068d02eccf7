#!/usr/bin/python3
"""A local FTP server for trying Skylark out: user "demo", password "demo", serving
a folder of the caller's choosing on 127.0.0.1. Started and stopped by run.sh."""
import argparse
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--home", required=True)
    parser.add_argument("--port", type=int, default=2121)
    args = parser.parse_args()

    authorizer = DummyAuthorizer()
    authorizer.add_user("demo", "demo", args.home, perm="elradfmwMT")
    handler = FTPHandler
    handler.authorizer = authorizer
    handler.banner = "Skylark demo FTP server"
    handler.passive_ports = range(50000, 50100)
    try:
        server = FTPServer(("127.0.0.1", args.port), handler)
    except OSError as error:
        print(f"demo FTP server: cannot listen on 127.0.0.1:{args.port}: {error}", file=sys.stderr)
        return 1
    print(f"demo FTP server on 127.0.0.1:{args.port}, user demo, password demo, folder {args.home}", flush=True)
    server.serve_forever(handle_exit=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
