#pragma once
// A real FTP server for tests: tests/ftpserver.py (pyftpdlib) started on loopback with
// a port of its own, and a log of every command it received.
//
//   FtpTestServer server;                       // user "user", password "secret"
//   server.writeFile("pub/a.txt", "hello");     // files it serves
//   QVERIFY(server.start());
//   InternetConnectA(hi, server.address(), 0, "user", "secret", 1, 0, 0);
//   QVERIFY(server.commands().contains("STOR a.jpg"));
//
// The server runs until stop() or the destructor. Options are fixed at construction.

#include "serverprocess.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

struct FtpTestServerOptions {
    QString user = QStringLiteral("user");
    QString password = QStringLiteral("secret");
    QString home;             // served folder; empty: a temporary folder made by the server object
    QStringList readonlyDirs; // subfolders of home where uploads are refused (550)
    bool refuseLogin = false; // every login is answered 530
    QString refuseText;       // text of that 530; "\n" makes it a multi-line reply
    double delaySeconds = 0;  // pause before every reply
    qint64 uploadRate = 0;    // bytes per second an upload is read at; 0: as fast as it comes
    enum class Silent { None, Greeting, AfterLogin };
    Silent silent = Silent::None;  // never send the banner / stop answering once logged in
    QString dropOn;                // close the control connection when this command arrives ("STOR", "CWD", ...)
    QString silentFrom;            // answer nothing from this command on, the command included ("STOR", ...)
    qint64 dropAfterBytes = -1;    // an upload that has brought this many bytes loses both connections; -1: never
    qint64 fullAfterBytes = -1;    // past this many bytes of an upload the disk is full: the transfer ends in 452
    double idleTimeoutSeconds = 0; // close idle control connections (421) after this; 0: the server default (300 s)
    bool noMlst = false;           // no MLST in FEAT and no MLSD, so clients must use LIST
    bool diskFull = false;         // STOR answered 552
    QString localErrorWhile;       // STOR answered 451 while a file of this path exists
    bool refuseRename = false;     // RNFR answered 550
    QStringList refuseSuffixes;    // STOR of names ending with one of these answered 553
    bool echoPassword = false;     // login and upload refusals repeat the password
    bool ipv6 = false;             // listen on ::1 instead of 127.0.0.1
};

class FtpTestServer {
public:
    explicit FtpTestServer(FtpTestServerOptions options = {});
    ~FtpTestServer();
    FtpTestServer(const FtpTestServer&) = delete;
    FtpTestServer& operator=(const FtpTestServer&) = delete;

    // Starts the server and waits (at most 10 s) for it to report its port: any free
    // one the first time, the same one again after stop(). Returns false, with a
    // warning printed, when it did not come up.
    bool start();
    // Ends the server (by its process id: terminate, then kill). Safe to call twice.
    void stop();

    quint16 port() const { return m_port; }
    QString host() const;       // "127.0.0.1", or "::1" with the ipv6 option
    QByteArray address() const; // server name for InternetConnectA: "127.0.0.1:port" or "[::1]:port"
    QString home() const { return m_home; }

    // Every command received so far, one per entry ("USER user", "PASS ******", "CWD /pub").
    QStringList commands() const;
    // Forgets the commands received so far, so a test can look at what one call sent.
    void clearCommands();
    // Uploads of a file that reached its name: a temporary file renamed over it, or a
    // store straight under the name.
    int uploadsOf(const QString& name) const;
    // Stores begun for a file, under its temporary name or its own.
    int storesOf(const QString& name) const;
    // Commands received that start with prefix ("USER", "CWD /pub").
    int commandsStartingWith(const QString& prefix) const;

    // Writes a file below home (folders made as needed). Returns false on failure.
    bool writeFile(const QString& relativePath, const QByteArray& content) const;
    bool makeDir(const QString& relativePath) const;
    // Absolute local path of a file below home.
    QString path(const QString& relativePath) const;

private:
    FtpTestServerOptions m_options;
    std::unique_ptr<QTemporaryDir> m_ownHome;
    QTemporaryDir m_logDir;
    QString m_home;
    QString m_logPath;
    ServerProcess m_process;
    quint16 m_port = 0;
    quint16 m_lastPort = 0; // a server started again comes back on it
};
