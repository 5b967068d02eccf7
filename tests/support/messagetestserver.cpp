#include "messagetestserver.h"

#include <QDir>
#include <QFile>
#include <QProcess>

MessageTestServer::MessageTestServer(Kind kind, Options options) : m_kind(kind), m_options(std::move(options)) {}

bool MessageTestServer::available(QString* whyNot)
{
    return pythonHas(QStringLiteral("aiosmtpd"), QStringLiteral("python3-aiosmtpd"), whyNot);
}

bool MessageTestServer::start()
{
    const QString inbox = m_dir.filePath(QStringLiteral("inbox"));
    QStringList args = {QStringLiteral(SKYLARK_MESSAGE_SERVER_SCRIPT),
                        m_kind == Mail ? QStringLiteral("mail") : QStringLiteral("web"), inbox,
                        QStringLiteral("--port"), QString::number(m_port)};
    if (m_kind == Mail && m_options.starttls) {
        const QString cert = m_dir.filePath(QStringLiteral("cert.pem"));
        const QString key = m_dir.filePath(QStringLiteral("key.pem"));
        if (!QFile::exists(cert)) {
            QProcess openssl;
            openssl.start(QStringLiteral("openssl"),
                          {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                           QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-keyout"), key,
                           QStringLiteral("-out"), cert, QStringLiteral("-days"), QStringLiteral("2"),
                           QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"),
                           QStringLiteral("subjectAltName=IP:127.0.0.1")});
            if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0)
                return false;
        }
        args << QStringLiteral("--starttls") << cert << key;
    }
    if (m_options.requireStarttls)
        args << QStringLiteral("--require-starttls");
    if (!m_options.user.isEmpty())
        args << QStringLiteral("--user") << m_options.user << QStringLiteral("--password") << m_options.password;
    if (m_kind == Web)
        args << QStringLiteral("--status") << QString::number(m_options.status);
    if (m_options.silent)
        args << QStringLiteral("--silent");
    m_port = m_process.start(m_kind == Mail ? QStringLiteral("the mail server") : QStringLiteral("the web server"),
                             args, m_dir.filePath(QStringLiteral("stderr.txt")));
    return m_port != 0;
}

QByteArrayList MessageTestServer::received() const
{
    QByteArrayList messages;
    const QDir inbox(m_dir.filePath(QStringLiteral("inbox")));
    for (const QString& name : inbox.entryList({QStringLiteral("[0-9][0-9][0-9][0-9]")}, QDir::Files, QDir::Name)) {
        QFile file(inbox.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            messages << file.readAll();
    }
    return messages;
}

QByteArray MessageTestServer::certificatePem() const
{
    QFile file(m_dir.filePath(QStringLiteral("cert.pem")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
