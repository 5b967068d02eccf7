#pragma once
// A real SFTP server for tests: tests/sftpserver.py (asyncssh) on loopback with a port
// of its own, password login, the served folder as the root every client sees, and a
// log of every request it received.
//
//   SftpTestServer server;                        // user "user", password "secret"
//   server.writeFile("pub/a.txt", "hello");
//   QVERIFY(server.start());
//   connect to server.serverName() ("sftp://127.0.0.1:port")
//   QVERIFY(server.events().contains("open /pub/10.jpg write"));
//   QVERIFY(server.changeHostKey());              // same port, another key
//
// Events, one per entry: "connect 127.0.0.1", "auth user ok" / "auth user refused"
// (never the password), "realpath .", "opendir /pub", "stat /pub", "open /pub/a.jpg
// write", "rename /pub/a /pub/b", "denied open /ro/a.jpg write", "disconnect".

#include "serverprocess.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

struct SftpTestServerOptions {
    QString user = QStringLiteral("user");
    QString password = QStringLiteral("secret");
    QString home;              // served folder; empty: a temporary folder of the server object
    QStringList readonlyDirs;  // folders below home where nothing may be written
    QStringList forbiddenDirs; // folders below home that cannot be opened or entered
    QString stall;             // a request never answered: "auth", "realpath", "opendir", "open", "stat"
    QString dropAfter;         // the first such request ("remove", ...) is carried out, then the link is cut
    bool ipv6 = false;         // listen on ::1 instead of 127.0.0.1
};

class SftpTestServer {
public:
    // Whether asyncssh is there; why not.
    static bool available(QString* why = nullptr);

    explicit SftpTestServer(SftpTestServerOptions options = {});
    ~SftpTestServer();
    SftpTestServer(const SftpTestServer&) = delete;
    SftpTestServer& operator=(const SftpTestServer&) = delete;

    // Starts the server (the first time on any free port, later on the same one) with
    // the current host key, made at the first start. False, with a warning printed,
    // when it did not come up.
    bool start();
    void stop();
    // The server comes back on the same port with a new host key of the same type, as
    // a reinstalled or impostor server would.
    bool changeHostKey();

    quint16 port() const { return m_port; }
    QString host() const;          // "127.0.0.1", or "::1" with the ipv6 option
    QByteArray address() const;    // "127.0.0.1:port" or "[::1]:port"
    QByteArray serverName() const; // "sftp://127.0.0.1:port"
    QString user() const { return m_options.user; }
    QString password() const { return m_options.password; }

    // The host key as known_hosts holds it, without the host: "ssh-ed25519 AAAA...".
    QString hostKey() const;
    // The host as known_hosts names it: "[127.0.0.1]:port".
    QString knownHostsName() const;
    // The host key's fingerprint as ssh prints it: "SHA256:" and unpadded base64.
    QString hostKeyFingerprint() const;

    QStringList events() const;
    void clearEvents();

    QString home() const { return m_home; }
    bool writeFile(const QString& relativePath, const QByteArray& content) const;
    bool makeDir(const QString& relativePath) const;
    QString path(const QString& relativePath) const;

private:
    SftpTestServerOptions m_options;
    std::unique_ptr<QTemporaryDir> m_ownHome;
    QTemporaryDir m_work; // host key and log, outside home
    QString m_home;
    ServerProcess m_process;
    quint16 m_port = 0;
    quint16 m_lastPort = 0;
};
