#!/usr/bin/python3
"""Mail and web servers for Skylark's tests: where the messages to the owner arrive.

  messageserver.py mail INBOX [--port N] [--starttls CERT KEY] [--require-starttls]
                   [--user U --password P]
  messageserver.py web INBOX [--port N] [--status CODE] [--silent]

Listens on loopback, on the port asked for or one the system picks, and prints the port
as the first line of stdout. Every message received is written whole into INBOX as a
file of its own, numbered in the order they came: a mail as its envelope (one
"MAIL FROM" and one "RCPT TO" line) and its data as sent; a web request as its method,
path, Content-Type and body. The mail server is aiosmtpd; the web server answers every
request with --status (200 unless told).
"""
import argparse
import asyncio
import http.server
import os
import ssl
import sys
import time


def parse_args():
    p = argparse.ArgumentParser()
    p.add_argument("kind", choices=["mail", "web"])
    p.add_argument("inbox")
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--starttls", nargs=2, metavar=("CERT", "KEY"))
    p.add_argument("--require-starttls", action="store_true")
    p.add_argument("--user", default="")
    p.add_argument("--password", default="")
    p.add_argument("--status", type=int, default=200)
    p.add_argument("--silent", action="store_true", help="web: take each request and never answer it")
    return p.parse_args()


def keep(inbox, data):
    name = os.path.join(inbox, "%04d" % len(os.listdir(inbox)))
    with open(name + ".tmp", "wb") as f:
        f.write(data)
    os.rename(name + ".tmp", name)


def serve_mail(args):
    from aiosmtpd.smtp import SMTP, AuthResult

    class Inbox:
        async def handle_DATA(self, server, session, envelope):
            head = "MAIL FROM %s\nRCPT TO %s\n" % (envelope.mail_from, ",".join(envelope.rcpt_tos))
            keep(args.inbox, head.encode() + envelope.original_content)
            return "250 Message accepted"

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = auth_data.login.decode() == args.user and auth_data.password.decode() == args.password
        return AuthResult(success=ok)

    tls = None
    if args.starttls:
        tls = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        tls.load_cert_chain(*args.starttls)

    def factory():
        return SMTP(Inbox(), hostname="skylark-test", tls_context=tls, require_starttls=args.require_starttls,
                    authenticator=authenticator if args.user else None, auth_required=bool(args.user),
                    auth_require_tls=False)

    loop = asyncio.new_event_loop()
    server = loop.run_until_complete(loop.create_server(factory, "127.0.0.1", args.port))
    print(server.sockets[0].getsockname()[1], flush=True)
    loop.run_forever()


def serve_web(args):
    class Handler(http.server.BaseHTTPRequestHandler):
        def answer(self, body):
            head = "%s %s\nContent-Type: %s\n\n" % (self.command, self.path, self.headers.get("Content-Type", ""))
            keep(args.inbox, head.encode() + body)
            if args.silent:
                time.sleep(3600)  # taken, never answered
            self.send_response(args.status)
            self.send_header("Content-Length", "0")
            self.end_headers()

        def do_POST(self):
            self.answer(self.rfile.read(int(self.headers.get("Content-Length", 0))))

        def do_GET(self):
            self.answer(b"")

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    print(server.server_address[1], flush=True)
    server.serve_forever()


def main():
    args = parse_args()
    os.makedirs(args.inbox, exist_ok=True)
    (serve_mail if args.kind == "mail" else serve_web)(args)


if __name__ == "__main__":
    sys.exit(main())
