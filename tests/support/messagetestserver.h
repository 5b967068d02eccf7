#pragma once
// Where the messages to the owner arrive in a test: a mail server (aiosmtpd) or a web
// endpoint (Python's http.server) on loopback, run by tests/messageserver.py, keeping
// every message it received whole.
//
//   MessageTestServer mail(MessageTestServer::Mail);
//   QVERIFY(mail.start());
//   ... smtp=smtp://127.0.0.1:<mail.port()> ...
//   QTRY_COMPARE(mail.received().size(), 1);

#include "serverprocess.h"

#include <QByteArrayList>
#include <QString>
#include <QTemporaryDir>

class MessageTestServer {
public:
    enum Kind { Mail, Web };
    struct Options {
        bool starttls = false;        // mail: offers STARTTLS with a certificate of its own for 127.0.0.1
        bool requireStarttls = false; // mail: refuses a mail sent in the clear
        QString user, password;       // mail: wants this login
        int status = 200;             // web: the answer to every request
        bool silent = false;          // web: takes a request and never answers it
    };
    explicit MessageTestServer(Kind kind, Options options);
    explicit MessageTestServer(Kind kind) : MessageTestServer(kind, Options{}) {}

    // Starts it (on the port it had, after a stop). False, with a warning, when it did
    // not come up.
    bool start();
    void stop() { m_process.stop(); }
    quint16 port() const { return m_port; }
    // The messages received so far, in order: a mail's envelope and data, a web request's
    // method, path, Content-Type and body.
    QByteArrayList received() const;
    // The mail server's certificate (PEM), to trust as ftp-ca.pem.
    QByteArray certificatePem() const;

    static bool available(QString* whyNot);

private:
    Kind m_kind;
    Options m_options;
    QTemporaryDir m_dir;
    ServerProcess m_process;
    quint16 m_port = 0;
};
