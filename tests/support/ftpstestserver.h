#pragma once
// A real FTP-over-TLS server for tests: vsftpd behind tests/ftpsserver.py, on loopback
// with a port of its own, with a self-signed certificate made by openssl for the test
// and vsftpd's protocol log to read back.
//
//   FtpsTestServer server;                        // ftpes, certificate for 127.0.0.1
//   server.makeDir("pub");                        // folders first: see below
//   QVERIFY(server.start());
//   connect to server.serverName() ("ftpes://127.0.0.1:port") as server.user() / server.password()
//   trust server.certificatePath() through ftp-ca.pem
//   QVERIFY(!server.commands().contains("USER anonymous"));
//
// Login. vsftpd's own users come from PAM and /etc/passwd, which a test must not
// change. Its anonymous login needs neither, and with a list of accepted passwords it
// refuses a wrong one with 530 as for any user: the login name is "anonymous".
// vsftpd runs the session as the system user "ftp" (made by the vsftpd package),
// chroot'ed into home; starting it needs root (available() says so).
//
// Permissions do the refusing. At start the server hands every folder below home to
// the ftp user, except readonlyDirs (uploads refused, 553) and forbiddenDirs (changing
// into them refused, 550); home itself stays read-only. Folders made after start()
// are root's and so read-only for the server.

#include "serverprocess.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

struct FtpsTestServerOptions {
    enum class Tls {
        Explicit, // AUTH TLS required before USER, data connections protected
        Implicit, // TLS from the first byte (ftps://)
        Off,      // plain FTP only; AUTH TLS is refused
    };
    Tls tls = Tls::Explicit;
    enum class Certificate {
        Good,      // CN and SAN 127.0.0.1, ::1 and localhost, valid now
        Expired,   // same names, valid only in January 2020
        WrongName, // valid now, for wrong.example only
    };
    Certificate certificate = Certificate::Good;
    QString password = QStringLiteral("secret");
    QString home;              // served folder; empty: a temporary folder of the server object
    QStringList readonlyDirs;  // folders below home where uploads are refused
    QStringList forbiddenDirs; // folders below home that cannot be entered
    bool ipv6 = false;         // listen on ::1 instead of 127.0.0.1
};

class FtpsTestServer {
public:
    // Whether vsftpd can run here (root, vsftpd, openssl and the ftp user); why not.
    static bool available(QString* why = nullptr);

    explicit FtpsTestServer(FtpsTestServerOptions options = {});
    ~FtpsTestServer();
    FtpsTestServer(const FtpsTestServer&) = delete;
    FtpsTestServer& operator=(const FtpsTestServer&) = delete;

    // Makes the certificate and configuration and starts listening; false, with a
    // warning printed, when the server did not come up.
    bool start();
    void stop();

    quint16 port() const { return m_port; }
    QString host() const;       // "127.0.0.1", or "::1" with the ipv6 option
    QByteArray address() const; // "127.0.0.1:port" or "[::1]:port"
    // The name for the server box: "ftpes://127.0.0.1:port", "ftps://..." with implicit
    // TLS, "ftp://..." with TLS off.
    QByteArray serverName() const;
    QString user() const { return QStringLiteral("anonymous"); }
    QString password() const { return m_options.password; }

    // The server's certificate (PEM), for ftp-ca.pem.
    QString certificatePath() const;
    QByteArray certificatePem() const;
    // As openssl tells them, for comparison with the program's own reading: the
    // certificate's SHA-256 fingerprint ("AB:CD:…"), and its public key as a pin line
    // of ftp-pins.txt takes it ("sha256//…").
    QString fingerprint() const;
    QString publicKeyPin() const;

    // What reached the server, in order: commands ("AUTH TLS", "USER anonymous",
    // "PASS <password>" -- vsftpd never logs the password) and replies ("234 Proceed
    // with negotiation.").
    QStringList commands() const;
    QStringList replies() const;
    // vsftpd's log as it stands (logins, uploads, TLS notes).
    QStringList log() const;

    QString home() const { return m_home; }
    bool writeFile(const QString& relativePath, const QByteArray& content) const;
    bool makeDir(const QString& relativePath) const;
    QString path(const QString& relativePath) const;

private:
    QStringList logField(const char* kind) const;

    FtpsTestServerOptions m_options;
    std::unique_ptr<QTemporaryDir> m_ownHome;
    QTemporaryDir m_work; // configuration, certificate, log; outside home so it never shows in a listing
    QString m_home;
    ServerProcess m_process;
    quint16 m_port = 0;
};
