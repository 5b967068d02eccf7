#!/usr/bin/python3
"""FTP server for Skylark's tests, on pyftpdlib.

Listens on loopback, on the port asked for or one the system picks, and prints the
port as the first line of stdout.
Every command received is appended to the log file (PASS's argument masked), one per
line and flushed at once, so a test can read back exactly what reached the server.
The options make the server misbehave in the ways a real one can.
"""
import argparse
import os
import socket
import sys
import time

from pyftpdlib.authorizers import AuthenticationFailed, DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler, ThrottledDTPHandler, proto_cmds
from pyftpdlib.servers import FTPServer


def parse_args():
    p = argparse.ArgumentParser()
    p.add_argument("log", help="file that receives every command, one per line")
    p.add_argument("--user", default="user")
    p.add_argument("--password", default="secret")
    p.add_argument("--home", required=True)
    p.add_argument("--readonly", action="append", default=[],
                   help="subfolder of home where uploads are refused (repeatable)")
    p.add_argument("--refuse-login", action="store_true")
    p.add_argument("--refuse-text", default="Login incorrect.",
                   help="text of the 530 refusal; a newline makes it a multi-line reply")
    p.add_argument("--delay", type=float, default=0.0, help="seconds before every reply")
    p.add_argument("--upload-rate", type=int, default=0,
                   help="bytes per second an upload is read at (0: as fast as it comes)")
    p.add_argument("--silent", choices=["none", "greeting", "after-login"], default="none")
    p.add_argument("--drop-on", default="", help="close the control connection on this command")
    p.add_argument("--silent-from", default="",
                   help="stop answering from this command on; the command itself is not carried out")
    p.add_argument("--drop-after-bytes", type=int, default=-1,
                   help="once an upload has brought this many bytes, close its data and control "
                        "connections (-1: never)")
    p.add_argument("--full-after-bytes", type=int, default=-1,
                   help="once an upload has brought this many bytes the disk is full: the rest is "
                        "read and dropped, and the transfer is answered 452 (-1: never)")
    p.add_argument("--idle-timeout", type=float, default=0.0,
                   help="close a control connection idle this long with 421 (0: never)")
    p.add_argument("--no-mlst", action="store_true")
    p.add_argument("--disk-full", action="store_true")
    p.add_argument("--local-error-while", default="",
                   help="answer STOR with 451 while this file exists (a server that cannot store for a while)")
    p.add_argument("--refuse-rename", action="store_true",
                   help="answer RNFR with 550, as upload-only areas that allow STOR alone do")
    p.add_argument("--refuse-suffix", action="append", default=[],
                   help="refuse uploads (553) of names ending with this, e.g. .part (repeatable)")
    p.add_argument("--echo-password", action="store_true",
                   help="repeat the password in login and upload refusals, as careless servers do")
    p.add_argument("--ipv6", action="store_true")
    p.add_argument("--port", type=int, default=0,
                   help="port to listen on (0: one the system picks); a restarted server can keep its port")
    return p.parse_args()


class RefusingAuthorizer(DummyAuthorizer):
    def validate_authentication(self, username, password, handler):
        raise AuthenticationFailed("Login incorrect.")


def make_dtp_handler(opts):
    class DroppingDTPHandler(DTPHandler):
        # Like a server that crashes or loses its link in the middle of an upload: both
        # connections go at once, with no reply and with the client still sending.
        def handle_read(self):
            DTPHandler.handle_read(self)
            if (self.receive and not self._closed
                    and self.tot_bytes_received >= opts.drop_after_bytes):
                control = self.cmd_channel
                self.close()
                control.close()

        handle_read_event = handle_read

    return DroppingDTPHandler


def make_full_disk_dtp_handler(opts):
    class FullDiskDTPHandler(DTPHandler):
        # Like a disk that fills during an upload: the file keeps what fitted, the client
        # sends the rest all the same, and the end of the transfer is refused.
        full = False

        def handle_read(self):
            try:
                chunk = self.recv(self.ac_in_buffer_size)
            except socket.error:
                return self.handle_error()
            if not chunk:
                self.transfer_finished = True
                return
            room = max(0, opts.full_after_bytes - self.tot_bytes_received)
            self.tot_bytes_received += len(chunk)
            self.full = self.full or room < len(chunk)
            if room:
                self.file_obj.write(chunk[:room])

        handle_read_event = handle_read

        def close(self):
            if self.full and self._resp and self._resp[0].startswith("226"):
                self._resp = ("452 Insufficient storage space.", self._resp[1])
                self.transfer_finished = False
            DTPHandler.close(self)

    return FullDiskDTPHandler


def make_handler(opts, log):
    class Handler(FTPHandler):
        muted = False
        idle_call = None

        # pyftpdlib's own idle timer is not re-armed reliably once commands arrive, so
        # the idle close is timed here, restarted by every command.
        def restart_idle_timer(self):
            if not opts.idle_timeout:
                return
            if self.idle_call is not None and not self.idle_call.cancelled:
                self.idle_call.cancel()
            self.idle_call = self.ioloop.call_later(opts.idle_timeout, self.idle_timeout_expired,
                                                    _errback=self.handle_error)

        def idle_timeout_expired(self):
            if not self._closed:
                self.respond("421 Control connection timed out.")
                self.close_when_done()

        def close(self):
            if self.idle_call is not None and not self.idle_call.cancelled:
                self.idle_call.cancel()
            FTPHandler.close(self)

        def handle(self):
            self.restart_idle_timer()
            if opts.silent == "greeting":
                # Accept the connection but never say hello: the client waits for a banner.
                self.on_connect()
                self.muted = True
                return
            FTPHandler.handle(self)

        def pre_process_command(self, line, cmd, arg):
            shown = "PASS ******" if cmd == "PASS" else line
            log.write(shown + "\n")
            log.flush()
            self.restart_idle_timer()
            if opts.drop_on and cmd == opts.drop_on.upper():
                self.close()
                return
            if opts.silent_from and cmd == opts.silent_from.upper():
                self.muted = True
            if self.muted:
                return
            FTPHandler.pre_process_command(self, line, cmd, arg)

        def respond(self, resp, logfun=None):
            if self.muted:
                return
            if opts.delay > 0:
                time.sleep(opts.delay)
            FTPHandler.respond(self, resp)

        def handle_auth_failed(self, msg, password):
            # Answer at once (no anti-brute-force pause) with the configured text.
            text = opts.refuse_text
            if opts.echo_password:
                text = "Login incorrect for PASS " + password
            lines = text.split("\n")
            for extra in lines[:-1]:
                self.push("530-%s\r\n" % extra)
            self.respond("530 " + lines[-1])
            self.username = ""

        def handle_auth_success(self, home, password, msg_login):
            self.session_password = password
            FTPHandler.handle_auth_success(self, home, password, msg_login)
            if opts.silent == "after-login":
                self.muted = True

        def ftp_STOR(self, file, mode="w"):
            if opts.disk_full:
                self.respond("552 Insufficient storage space.")
                return
            if opts.local_error_while and os.path.exists(opts.local_error_while):
                self.respond("451 Local error in processing.")
                return
            if any(file.endswith(suffix) for suffix in opts.refuse_suffix):
                echo = " for password " + self.session_password if opts.echo_password else ""
                self.respond("553 File name not allowed%s." % echo)
                return
            return FTPHandler.ftp_STOR(self, file, mode)

        def ftp_RNFR(self, path):
            if opts.refuse_rename:
                self.respond("550 Renaming is not allowed here.")
                return
            return FTPHandler.ftp_RNFR(self, path)

    Handler.timeout = 0
    if opts.drop_after_bytes >= 0:
        Handler.dtp_handler = make_dtp_handler(opts)
    if opts.full_after_bytes >= 0:
        Handler.dtp_handler = make_full_disk_dtp_handler(opts)
    if opts.upload_rate > 0:
        class SlowDTPHandler(ThrottledDTPHandler):
            read_limit = opts.upload_rate
        Handler.dtp_handler = SlowDTPHandler
    Handler.auth_failed_timeout = 0
    if opts.no_mlst:
        Handler.proto_cmds = {k: v for k, v in proto_cmds.items() if k not in ("MLST", "MLSD")}
    return Handler


def main():
    opts = parse_args()
    home = os.path.abspath(opts.home)
    authorizer = RefusingAuthorizer() if opts.refuse_login else DummyAuthorizer()
    authorizer.add_user(opts.user, opts.password, home, perm="elradfmwMT")
    for sub in opts.readonly:
        authorizer.override_perm(opts.user, os.path.join(home, sub), perm="elr", recursive=True)

    log = open(opts.log, "a", encoding="utf-8")
    handler = make_handler(opts, log)
    handler.authorizer = authorizer
    server = FTPServer(("::1" if opts.ipv6 else "127.0.0.1", opts.port), handler)
    print(server.address[1], flush=True)
    try:
        server.serve_forever()
    finally:
        log.close()


if __name__ == "__main__":
    main()
