#include "ftpstestserver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <pwd.h>
#include <unistd.h>

bool FtpsTestServer::available(QString* why)
{
    QString reason;
    if (::geteuid() != 0)
        reason = QStringLiteral("vsftpd needs root to chroot and change user");
    else if (!QFileInfo::exists(QStringLiteral("/usr/sbin/vsftpd")))
        reason = QStringLiteral("vsftpd is not installed (scripts/deps.sh)");
    else if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
        reason = QStringLiteral("openssl is not installed (scripts/deps.sh)");
    else if (!::getpwnam("ftp"))
        reason = QStringLiteral("there is no system user ftp (the vsftpd package makes it)");
    if (why)
        *why = reason;
    return reason.isEmpty();
}

FtpsTestServer::FtpsTestServer(FtpsTestServerOptions options) : m_options(std::move(options))
{
    if (m_options.home.isEmpty()) {
        m_ownHome = std::make_unique<QTemporaryDir>();
        m_home = m_ownHome->path();
    } else {
        m_home = QDir(m_options.home).absolutePath();
    }
}

FtpsTestServer::~FtpsTestServer()
{
    stop();
}

bool FtpsTestServer::start()
{
    if (m_port)
        return true;
    QStringList args{QStringLiteral(SKYLARK_FTPS_SERVER_SCRIPT),
                     m_work.path(),
                     QStringLiteral("--home"),
                     m_home,
                     QStringLiteral("--password"),
                     m_options.password};
    switch (m_options.tls) {
    case FtpsTestServerOptions::Tls::Explicit:
        args << QStringLiteral("--tls") << QStringLiteral("explicit");
        break;
    case FtpsTestServerOptions::Tls::Implicit:
        args << QStringLiteral("--tls") << QStringLiteral("implicit");
        break;
    case FtpsTestServerOptions::Tls::Off:
        args << QStringLiteral("--tls") << QStringLiteral("off");
        break;
    }
    switch (m_options.certificate) {
    case FtpsTestServerOptions::Certificate::Good:
        args << QStringLiteral("--cert") << QStringLiteral("good");
        break;
    case FtpsTestServerOptions::Certificate::Expired:
        args << QStringLiteral("--cert") << QStringLiteral("expired");
        break;
    case FtpsTestServerOptions::Certificate::WrongName:
        args << QStringLiteral("--cert") << QStringLiteral("wrong-name");
        break;
    }
    for (const auto& dir : m_options.readonlyDirs)
        args << QStringLiteral("--readonly") << dir;
    for (const auto& dir : m_options.forbiddenDirs)
        args << QStringLiteral("--forbidden") << dir;
    if (m_options.ipv6)
        args << QStringLiteral("--ipv6");
    m_port = m_process.start(QStringLiteral("FTPS test server"), args, m_work.filePath(QStringLiteral("stderr.txt")));
    return m_port != 0;
}

void FtpsTestServer::stop()
{
    m_process.stop();
    m_port = 0;
}

QString FtpsTestServer::host() const
{
    return m_options.ipv6 ? QStringLiteral("::1") : QStringLiteral("127.0.0.1");
}

QByteArray FtpsTestServer::address() const
{
    const QString h = m_options.ipv6 ? QStringLiteral("[::1]") : host();
    return QStringLiteral("%1:%2").arg(h).arg(m_port).toUtf8();
}

QByteArray FtpsTestServer::serverName() const
{
    switch (m_options.tls) {
    case FtpsTestServerOptions::Tls::Implicit:
        return "ftps://" + address();
    case FtpsTestServerOptions::Tls::Off:
        return "ftp://" + address();
    case FtpsTestServerOptions::Tls::Explicit:
        break;
    }
    return "ftpes://" + address();
}

QString FtpsTestServer::certificatePath() const
{
    return m_work.filePath(QStringLiteral("cert.pem"));
}

QByteArray FtpsTestServer::certificatePem() const
{
    QFile f(certificatePath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

namespace {
// The output of one openssl command (or a pipe of them, through the shell).
QByteArray opensslOutput(const QString& script, const QString& certificate)
{
    QProcess shell;
    shell.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script, QStringLiteral("sh"), certificate});
    shell.waitForFinished(20000);
    return shell.readAllStandardOutput().trimmed();
}
} // namespace

QString FtpsTestServer::fingerprint() const
{
    // "sha256 Fingerprint=AB:CD:…"
    const QByteArray line =
        opensslOutput(QStringLiteral("openssl x509 -in \"$1\" -noout -fingerprint -sha256"), certificatePath());
    return QString::fromLatin1(line.mid(line.indexOf('=') + 1));
}

QString FtpsTestServer::publicKeyPin() const
{
    return QStringLiteral("sha256//") +
           QString::fromLatin1(opensslOutput(QStringLiteral("openssl x509 -in \"$1\" -noout -pubkey | openssl pkey "
                                                            "-pubin -outform der | openssl dgst -sha256 -binary | "
                                                            "base64"),
                                             certificatePath()));
}

QStringList FtpsTestServer::log() const
{
    QFile f(m_work.filePath(QStringLiteral("vsftpd.log")));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList FtpsTestServer::logField(const char* kind) const
{
    // Mon Dec  7 11:00:00 2026 [pid 42] [ftp] FTP command: Client "127.0.0.1", "CWD pub"
    static const QRegularExpression line(QStringLiteral(R"re(\] FTP (command|response): Client "[^"]*", "(.*)"$)re"));
    QStringList out;
    for (const auto& entry : log()) {
        const auto m = line.match(entry);
        if (m.hasMatch() && m.captured(1) == QLatin1String(kind))
            out << m.captured(2);
    }
    return out;
}

QStringList FtpsTestServer::commands() const
{
    return logField("command");
}

QStringList FtpsTestServer::replies() const
{
    return logField("response");
}

bool FtpsTestServer::writeFile(const QString& relativePath, const QByteArray& content) const
{
    const QString full = path(relativePath);
    if (!QDir().mkpath(QFileInfo(full).absolutePath()))
        return false;
    QFile f(full);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(content) == content.size();
}

bool FtpsTestServer::makeDir(const QString& relativePath) const
{
    return QDir().mkpath(path(relativePath));
}

QString FtpsTestServer::path(const QString& relativePath) const
{
    return QDir(m_home).filePath(relativePath);
}
