#!/usr/bin/python3
"""FTP-over-TLS server for Skylark's tests: vsftpd behind a loopback listener of our own.

vsftpd's standalone mode cannot tell which port it got, so this script listens on
loopback, port 0, prints the port as the first line of stdout, and starts one vsftpd in
inetd mode (the connection on its stdin and stdout) for every connection it accepts.
Everything vsftpd needs lives in the work folder the caller names: its configuration,
the certificate and key (made here with the openssl command), the password list and
the protocol log, which holds every command and reply (log_ftp_protocol).

Login. vsftpd's local users go through PAM and /etc/passwd, which a test must not
touch. Its anonymous login needs neither: with secure_email_list_enable the password
must be one of the lines of a file of ours, so a wrong password is refused with 530
exactly as for a local user. The login name is therefore "anonymous" (or "ftp"); the
session runs as the system user "ftp" that the vsftpd package creates, chroot'ed into
the served folder. vsftpd needs root for that; the caller checks.

Permissions decide what the server refuses. The served folder itself stays root's and
not writable (vsftpd insists on that for a chroot); every folder below it that exists
at start is handed to the ftp user, except the --readonly ones (uploads refused, 553)
and the --forbidden ones (mode 0700: changing into them is refused, 550). Folders made
after the start belong to root and are read-only for the server.
"""
import argparse
import ctypes
import os
import pwd
import signal
import socket
import subprocess
import sys
import uuid

PR_SET_PDEATHSIG = 1
VSFTPD = "/usr/sbin/vsftpd"


def die_with_parent():
    # A test that crashes must not leave servers behind.
    try:
        ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)
    except OSError:
        pass


def parse_args():
    p = argparse.ArgumentParser()
    p.add_argument("workdir", help="folder for configuration, certificate and log (made if missing)")
    p.add_argument("--home", required=True, help="served folder (the chroot)")
    p.add_argument("--password", action="append", default=[],
                   help="accepted password for the login anonymous (repeatable; default secret)")
    p.add_argument("--tls", choices=["explicit", "implicit", "off"], default="explicit",
                   help="explicit: AUTH TLS required before login and for data; implicit: TLS from "
                        "the first byte; off: plain FTP only (AUTH refused)")
    p.add_argument("--cert", choices=["good", "expired", "wrong-name"], default="good",
                   help="the server certificate made at start (self-signed)")
    p.add_argument("--cert-file", default="", help="use this certificate (PEM, key included) instead")
    p.add_argument("--no-ssl-reuse", action="store_true",
                   help="do not demand TLS session reuse on data connections")
    p.add_argument("--readonly", action="append", default=[])
    p.add_argument("--forbidden", action="append", default=[])
    p.add_argument("--ipv6", action="store_true", help="listen on ::1 instead of 127.0.0.1")
    return p.parse_args()


def run(cmd):
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def make_certificate(workdir, kind):
    """Self-signed certificate and key in cert.pem / key.pem; returns the cert's path."""
    key = os.path.join(workdir, "key.pem")
    cert = os.path.join(workdir, "cert.pem")
    if kind == "wrong-name":
        name, san = "wrong.example", "DNS:wrong.example"
    else:
        name, san = "127.0.0.1", "IP:127.0.0.1,IP:::1,DNS:localhost"
    # Each server's own issuer name: OpenSSL looks trusted certificates up by name, and
    # two servers of one test must not stand for each other.
    subject = f"/O=Skylark test {uuid.uuid4().hex}/CN={name}"
    if kind != "expired":
        run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
             "-nodes", "-keyout", key, "-out", cert, "-days", "2", "-subj", subject,
             "-addext", "subjectAltName=" + san])
        return cert
    # "openssl req" only dates a certificate from now on; "openssl ca" takes any dates.
    ca = os.path.join(workdir, "ca")
    os.makedirs(ca, exist_ok=True)
    with open(os.path.join(ca, "index.txt"), "w"):
        pass
    with open(os.path.join(ca, "serial"), "w") as f:
        f.write("01\n")
    conf = os.path.join(ca, "ca.cnf")
    with open(conf, "w") as f:
        f.write("[ca]\ndefault_ca = here\n[here]\n"
                f"database = {ca}/index.txt\nnew_certs_dir = {ca}\nserial = {ca}/serial\n"
                "default_md = sha256\npolicy = any\ncopy_extensions = copy\n"
                "[any]\norganizationName = supplied\ncommonName = supplied\n")
    csr = os.path.join(ca, "req.csr")
    run(["openssl", "req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
         "-keyout", key, "-out", csr, "-subj", subject, "-addext", "subjectAltName=" + san])
    run(["openssl", "ca", "-batch", "-config", conf, "-selfsign", "-keyfile", key, "-in", csr,
         "-out", cert, "-notext", "-startdate", "20200101000000Z", "-enddate", "20200102000000Z"])
    return cert


def prepare_home(home, readonly, forbidden):
    ftp = pwd.getpwnam("ftp")
    home = os.path.realpath(home)
    os.chown(home, 0, 0)
    os.chmod(home, 0o755)
    special = {os.path.realpath(os.path.join(home, d)): d for d in readonly + forbidden}
    for d in readonly + forbidden:
        os.makedirs(os.path.join(home, d), exist_ok=True)
    for root, dirs, files in os.walk(home):
        for name in dirs:
            path = os.path.join(root, name)
            if any(path == s or path.startswith(s + os.sep) for s in special):
                continue
            os.chown(path, ftp.pw_uid, ftp.pw_gid)
            os.chmod(path, 0o755)
        for name in files:
            os.chmod(os.path.join(root, name), 0o644)
    for d in readonly:
        path = os.path.join(home, d)
        os.chown(path, 0, 0)
        os.chmod(path, 0o755)
    for d in forbidden:
        path = os.path.join(home, d)
        os.chown(path, 0, 0)
        os.chmod(path, 0o700)


def write_config(workdir, opts, cert, key):
    empty = os.path.join(workdir, "empty")
    os.makedirs(empty, exist_ok=True)
    os.chmod(empty, 0o755)
    passwords = os.path.join(workdir, "passwords")
    with open(passwords, "w") as f:
        for p in opts.password or ["secret"]:
            f.write(p + "\n")
    tls = opts.tls != "off"
    lines = {
        "listen": "NO",
        "listen_ipv6": "NO",
        "background": "NO",
        "anonymous_enable": "YES",
        "local_enable": "NO",
        "secure_email_list_enable": "YES",
        "email_password_file": passwords,
        "anon_root": os.path.realpath(opts.home),
        "ftp_username": "ftp",
        "write_enable": "YES",
        "anon_upload_enable": "YES",
        "anon_mkdir_write_enable": "YES",
        "anon_other_write_enable": "YES",
        "anon_world_readable_only": "NO",
        "anon_umask": "022",
        "pasv_enable": "YES",
        "port_enable": "YES",
        "connect_from_port_20": "NO",
        "secure_chroot_dir": empty,
        "hide_ids": "NO",
        "use_localtime": "NO",
        "dirmessage_enable": "NO",
        # The whole conversation, so a test can see what reached the server and when.
        "xferlog_enable": "YES",
        "xferlog_std_format": "NO",
        "log_ftp_protocol": "YES",
        "syslog_enable": "NO",
        "vsftpd_log_file": os.path.join(workdir, "vsftpd.log"),
        # The network namespace and seccomp sandbox fail in some containers and
        # protect nothing a loopback test needs.
        "isolate": "NO",
        "isolate_network": "NO",
        "seccomp_sandbox": "NO",
        "idle_session_timeout": "120",
        "data_connection_timeout": "60",
        "delay_failed_login": "0",
        "ssl_enable": "YES" if tls else "NO",
    }
    if tls:
        lines.update({
            "rsa_cert_file": cert,
            "rsa_private_key_file": key,
            "allow_anon_ssl": "YES",
            "force_anon_logins_ssl": "YES",
            "force_anon_data_ssl": "YES",
            "ssl_tlsv1": "YES",
            "ssl_sslv2": "NO",
            "ssl_sslv3": "NO",
            "ssl_request_cert": "NO",
            "ssl_ciphers": "HIGH",
            "require_ssl_reuse": "NO" if opts.no_ssl_reuse else "YES",
            "implicit_ssl": "YES" if opts.tls == "implicit" else "NO",
        })
    conf = os.path.join(workdir, "vsftpd.conf")
    with open(conf, "w") as f:
        for k, v in lines.items():
            f.write(f"{k}={v}\n")
    # vsftpd refuses a configuration file that others could have written.
    os.chmod(conf, 0o600)
    return conf


def main():
    die_with_parent()
    opts = parse_args()
    if os.geteuid() != 0:
        sys.exit("ftpsserver.py: vsftpd needs root (it chroots and changes user)")
    workdir = os.path.realpath(opts.workdir)
    os.makedirs(workdir, exist_ok=True)
    if opts.cert_file:
        cert = key = os.path.realpath(opts.cert_file)
    else:
        cert = make_certificate(workdir, opts.cert)
        key = os.path.join(workdir, "key.pem")
    prepare_home(opts.home, opts.readonly, opts.forbidden)
    conf = write_config(workdir, opts, cert, key)

    family = socket.AF_INET6 if opts.ipv6 else socket.AF_INET
    listener = socket.socket(family, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("::1" if opts.ipv6 else "127.0.0.1", 0))
    listener.listen(16)
    print(listener.getsockname()[1], flush=True)

    children = []

    def end(*_):
        for child in children:
            if child.poll() is None:
                child.terminate()
        sys.exit(0)

    signal.signal(signal.SIGTERM, end)
    signal.signal(signal.SIGINT, end)
    while True:
        conn, _ = listener.accept()
        children = [c for c in children if c.poll() is None]
        # A session must not outlive this listener either.
        children.append(subprocess.Popen([VSFTPD, conf], stdin=conn, stdout=conn,
                                         stderr=subprocess.DEVNULL, close_fds=True,
                                         preexec_fn=die_with_parent))
        conn.close()


if __name__ == "__main__":
    main()
