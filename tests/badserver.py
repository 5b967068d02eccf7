#!/usr/bin/python3
"""A deliberately broken FTP server for Skylark's tests, on raw sockets.

Listens on 127.0.0.1, port 0, and prints the port it got as the first line of stdout.
The mode (first argument) decides how it misbehaves:

  endless-line   sends "220 " and then bytes for ever, never a line end
  huge-listing   speaks enough FTP to log in and list (USER, PASS, PWD, TYPE, EPSV,
                 PASV, CWD, FEAT, LIST, NLST, QUIT) and lists one line of several MB
  garbage        answers the connection and every command with binary junk that is
                 never a reply
Each connection is served in its own thread; the server runs until it is terminated.
"""
import os
import socket
import sys
import threading

LISTING_LINE_BYTES = 8 * 1024 * 1024


def send_all(conn, data):
    try:
        conn.sendall(data)
        return True
    except OSError:
        return False


def endless_line(conn):
    send_all(conn, b"220 ")
    chunk = b"x" * 65536
    while send_all(conn, chunk):
        pass


def garbage(conn):
    junk = bytes(range(256)).replace(b"\n", b"").replace(b"\r", b"") * 16
    send_all(conn, junk + b"\n" + os.urandom(512).replace(b"\r\n", b"") + b"\n")
    conn.settimeout(30)
    while True:
        try:
            data = conn.recv(4096)
        except OSError:
            return
        if not data:
            return
        if not send_all(conn, b"\x00\xff garbage " + os.urandom(64).replace(b"\n", b"") + b"\n"):
            return


def huge_listing(conn):
    f = conn.makefile("rb")
    send_all(conn, b"220 huge listing server\r\n")
    data_listener = None
    while True:
        line = f.readline(4096)
        if not line:
            return
        cmd = line.strip().split(b" ", 1)[0].upper()
        if cmd == b"USER":
            send_all(conn, b"331 password please\r\n")
        elif cmd == b"PASS":
            send_all(conn, b"230 logged in\r\n")
        elif cmd == b"PWD":
            send_all(conn, b'257 "/" is the current folder\r\n')
        elif cmd == b"CWD":
            send_all(conn, b"250 ok\r\n")
        elif cmd == b"TYPE":
            send_all(conn, b"200 type set\r\n")
        elif cmd in (b"EPSV", b"PASV"):
            if data_listener:
                data_listener.close()
            data_listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            data_listener.bind(("127.0.0.1", 0))
            data_listener.listen(1)
            port = data_listener.getsockname()[1]
            if cmd == b"EPSV":
                send_all(conn, b"229 Entering Extended Passive Mode (|||%d|)\r\n" % port)
            else:
                send_all(conn, b"227 Entering Passive Mode (127,0,0,1,%d,%d)\r\n" % (port >> 8, port & 255))
        elif cmd in (b"LIST", b"NLST", b"MLSD"):
            if not data_listener:
                send_all(conn, b"425 no data connection\r\n")
                continue
            send_all(conn, b"150 here it comes\r\n")
            data_listener.settimeout(30)
            try:
                data, _ = data_listener.accept()
            except OSError:
                send_all(conn, b"425 no data connection\r\n")
                continue
            data_listener.close()
            data_listener = None
            name = b"n" * LISTING_LINE_BYTES
            send_all(data, b"-rw-r--r--   1 user group 10 Jan 05 10:00 " + name + b"\r\n")
            data.close()
            send_all(conn, b"226 done\r\n")
        elif cmd == b"QUIT":
            send_all(conn, b"221 bye\r\n")
            return
        else:
            send_all(conn, b"502 not here\r\n")


def serve(handler, conn):
    try:
        handler(conn)
    finally:
        try:
            conn.close()
        except OSError:
            pass


def main():
    modes = {"endless-line": endless_line, "huge-listing": huge_listing, "garbage": garbage}
    if len(sys.argv) != 2 or sys.argv[1] not in modes:
        sys.stderr.write("usage: badserver.py {%s}\n" % "|".join(modes))
        return 2
    handler = modes[sys.argv[1]]
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    print(listener.getsockname()[1], flush=True)
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=serve, args=(handler, conn), daemon=True).start()


if __name__ == "__main__":
    sys.exit(main())
