#!/usr/bin/python3
"""SFTP server for Skylark's tests, on asyncssh.

Listens on loopback (port 0 unless --port says otherwise) and prints the port it got as
the first line of stdout. One user logs in with a password; the served folder is the
root every client sees (chroot'ed). The host key is read from --host-key, or made there
when the file does not exist yet, with its public half beside it (".pub"), so a test can
keep a key across restarts or swap it for another.

Every event is appended to the log file, one per line and flushed at once:
    connect 127.0.0.1
    auth user ok            auth user refused       (the password itself is never written)
    open /pub/a.jpg write   opendir /pub            stat /pub      realpath .
    rename /pub/a /pub/b    mkdir /x    denied open /ro/a.jpg write
    disconnect
so a test can read back what reached the server, and what did not.
"""
import argparse
import asyncio
import ctypes
import os
import signal
import sys

import asyncssh

PR_SET_PDEATHSIG = 1


def die_with_parent():
    # A test that crashes must not leave its server behind.
    try:
        ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)
    except OSError:
        pass


def parse_args():
    p = argparse.ArgumentParser()
    p.add_argument("log", help="file that receives every event, one per line")
    p.add_argument("--home", required=True)
    p.add_argument("--user", default="user")
    p.add_argument("--password", default="secret")
    p.add_argument("--host-key", required=True,
                   help="private host key (OpenSSH format); made when the file is missing")
    p.add_argument("--key-type", default="ssh-ed25519",
                   help="algorithm of a key made here (ssh-ed25519, ecdsa-sha2-nistp256, ssh-rsa)")
    p.add_argument("--port", type=int, default=0, help="0: any free port")
    p.add_argument("--readonly", action="append", default=[],
                   help="folder below home where nothing may be written (repeatable)")
    p.add_argument("--forbidden", action="append", default=[],
                   help="folder below home that may not even be looked at (repeatable)")
    p.add_argument("--stall", default="",
                   help="never answer this request (auth, open, opendir, stat, realpath, ...), "
                        "like a server that hangs")
    p.add_argument("--drop-after", default="",
                   help="the first time this request (remove, rename, ...) has been carried out, "
                        "cut the connection before answering, like a link that goes down")
    p.add_argument("--ipv6", action="store_true", help="listen on ::1 instead of 127.0.0.1")
    return p.parse_args()


class Log:
    def __init__(self, path):
        self.f = open(path, "a", encoding="utf-8")

    def __call__(self, *parts):
        self.f.write(" ".join(str(p) for p in parts) + "\n")
        self.f.flush()


def load_host_key(path, key_type):
    if os.path.exists(path):
        return asyncssh.read_private_key(path)
    key = asyncssh.generate_private_key(key_type)
    key.write_private_key(path)
    key.write_public_key(path + ".pub")
    return key


async def hang_auth():
    await asyncio.Event().wait()


def make_server(opts, log):
    class Server(asyncssh.SSHServer):
        def connection_made(self, conn):
            peer = conn.get_extra_info("peername")
            log("connect", peer[0] if peer else "?")

        def connection_lost(self, exc):
            log("disconnect")

        def begin_auth(self, username):
            return True

        def password_auth_supported(self):
            return True

        def validate_password(self, username, password):
            ok = username == opts.user and password == opts.password
            log("auth", username, "ok" if ok else "refused")
            if opts.stall == "auth":
                return hang_auth()
            return ok

    return Server


def make_sftp_server(opts, log):
    home = os.path.realpath(opts.home)

    def inside(path, folders, itself=True):
        """True when the client's path (as the client sees it) lies in one of folders,
        or, with itself, is one of them."""
        p = "/" + path.decode("utf-8", "replace").strip("/")
        for f in folders:
            f = "/" + f.strip("/")
            if (itself and p == f) or p.startswith(f + "/"):
                return True
        return False

    def shown(path):
        return path.decode("utf-8", "replace")

    async def hang():
        await asyncio.Event().wait()

    dropped = []

    class Sftp(asyncssh.SFTPServer):
        def __init__(self, chan):
            super().__init__(chan, chroot=home.encode())

        def _absolute(self, path):
            # Relative paths are relative to the root: the session starts there.
            return self.reverse_map_path(self.map_path(path))

        def _refused(self, absolute, write, itself=True):
            # A forbidden folder still shows up in its parent's listing (which looks at
            # each entry), like a folder without permissions on a real server.
            return (inside(absolute, opts.forbidden, itself) or
                    (write and inside(absolute, opts.readonly)))

        def _run(self, what, path, write, action, *extra, itself=True, also=None):
            """Logs the request, refuses it when the folder (or also's) says so, else
            runs action."""
            absolute = self._absolute(path)
            if self._refused(absolute, write, itself) or (
                    also is not None and self._refused(self._absolute(also), write)):
                log("denied", what, shown(absolute), *extra)
                raise asyncssh.SFTPError(asyncssh.FX_PERMISSION_DENIED, "Permission denied")
            log(what, shown(absolute), *extra)
            if opts.stall == what:
                return hang()
            if opts.drop_after == what and not dropped:
                dropped.append(what)
                action()
                log("drop")
                self.channel.get_connection().abort()
                return hang()
            return action()

        def open(self, path, pflags, attrs):
            write = bool(pflags & (asyncssh.FXF_WRITE | asyncssh.FXF_APPEND |
                                   asyncssh.FXF_CREAT | asyncssh.FXF_TRUNC))
            return self._run("open", path, write, lambda: super(Sftp, self).open(path, pflags, attrs),
                             "write" if write else "read")

        def stat(self, path):
            return self._run("stat", path, False, lambda: super(Sftp, self).stat(path), itself=False)

        def lstat(self, path):
            return self._run("lstat", path, False, lambda: super(Sftp, self).lstat(path), itself=False)

        def setstat(self, path, attrs):
            return self._run("setstat", path, True, lambda: super(Sftp, self).setstat(path, attrs))

        def realpath(self, path):
            log("realpath", shown(path))
            if opts.stall == "realpath":
                return hang()
            return super().realpath(path)

        def listdir(self, path):
            return self._run("opendir", path, False, lambda: super(Sftp, self).listdir(path))

        def mkdir(self, path, attrs):
            return self._run("mkdir", path, True, lambda: super(Sftp, self).mkdir(path, attrs))

        def rmdir(self, path):
            return self._run("rmdir", path, True, lambda: super(Sftp, self).rmdir(path))

        def remove(self, path):
            return self._run("remove", path, True, lambda: super(Sftp, self).remove(path))

        def rename(self, oldpath, newpath):
            return self._run("rename", oldpath, True, lambda: super(Sftp, self).rename(oldpath, newpath),
                             shown(self._absolute(newpath)), also=newpath)

        def posix_rename(self, oldpath, newpath):
            return self._run("rename", oldpath, True,
                             lambda: super(Sftp, self).posix_rename(oldpath, newpath),
                             shown(self._absolute(newpath)), also=newpath)

        def symlink(self, oldpath, newpath):
            return self._run("symlink", newpath, True, lambda: super(Sftp, self).symlink(oldpath, newpath))

    return Sftp


async def serve(opts, log):
    key = load_host_key(opts.host_key, opts.key_type)
    server = await asyncssh.listen(
        "::1" if opts.ipv6 else "127.0.0.1", opts.port,
        server_host_keys=[key],
        server_factory=make_server(opts, log),
        sftp_factory=make_sftp_server(opts, log),
        # A restart on the same port (a test that changes the host key) must not wait
        # for the old socket's TIME_WAIT.
        reuse_address=True,
        login_timeout=30,
        allow_scp=False)
    port = server.sockets[0].getsockname()[1]
    print(port, flush=True)
    stop = asyncio.Event()
    loop = asyncio.get_running_loop()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, stop.set)
    await stop.wait()
    server.close()


def main():
    die_with_parent()
    opts = parse_args()
    log = Log(opts.log)
    try:
        asyncio.run(serve(opts, log))
    except OSError as e:
        sys.exit(f"sftpserver.py: {e}")


if __name__ == "__main__":
    main()
