#include "sftptestserver.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

bool SftpTestServer::available(QString* why)
{
    return pythonHas(QStringLiteral("asyncssh"), QStringLiteral("python3-asyncssh"), why);
}

SftpTestServer::SftpTestServer(SftpTestServerOptions options) : m_options(std::move(options))
{
    if (m_options.home.isEmpty()) {
        m_ownHome = std::make_unique<QTemporaryDir>();
        m_home = m_ownHome->path();
    } else {
        m_home = QDir(m_options.home).absolutePath();
    }
}

SftpTestServer::~SftpTestServer()
{
    stop();
}

bool SftpTestServer::start()
{
    if (m_port)
        return true;
    // -W ignore: the cryptography module warns about ciphers asyncssh merely lists.
    QStringList args{QStringLiteral("-W"),
                     QStringLiteral("ignore"),
                     QStringLiteral(SKYLARK_SFTP_SERVER_SCRIPT),
                     m_work.filePath(QStringLiteral("events.log")),
                     QStringLiteral("--home"),
                     m_home,
                     QStringLiteral("--user"),
                     m_options.user,
                     QStringLiteral("--password"),
                     m_options.password,
                     QStringLiteral("--host-key"),
                     m_work.filePath(QStringLiteral("host_key")),
                     QStringLiteral("--port"),
                     QString::number(m_lastPort)};
    for (const auto& dir : m_options.readonlyDirs)
        args << QStringLiteral("--readonly") << dir;
    for (const auto& dir : m_options.forbiddenDirs)
        args << QStringLiteral("--forbidden") << dir;
    if (!m_options.stall.isEmpty())
        args << QStringLiteral("--stall") << m_options.stall;
    if (!m_options.dropAfter.isEmpty())
        args << QStringLiteral("--drop-after") << m_options.dropAfter;
    if (m_options.ipv6)
        args << QStringLiteral("--ipv6");
    m_port = m_process.start(QStringLiteral("SFTP test server"), args, m_work.filePath(QStringLiteral("stderr.txt")));
    if (m_port)
        m_lastPort = m_port;
    return m_port != 0;
}

void SftpTestServer::stop()
{
    m_process.stop();
    m_port = 0;
}

bool SftpTestServer::changeHostKey()
{
    stop();
    QFile::remove(m_work.filePath(QStringLiteral("host_key")));
    QFile::remove(m_work.filePath(QStringLiteral("host_key.pub")));
    return start();
}

QString SftpTestServer::host() const
{
    return m_options.ipv6 ? QStringLiteral("::1") : QStringLiteral("127.0.0.1");
}

QByteArray SftpTestServer::address() const
{
    const QString h = m_options.ipv6 ? QStringLiteral("[::1]") : host();
    return QStringLiteral("%1:%2").arg(h).arg(m_port).toUtf8();
}

QByteArray SftpTestServer::serverName() const
{
    return "sftp://" + address();
}

QString SftpTestServer::hostKey() const
{
    QFile f(m_work.filePath(QStringLiteral("host_key.pub")));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    // "type base64 comment": the comment is not part of a known_hosts entry.
    const QStringList parts = QString::fromUtf8(f.readAll()).simplified().split(QLatin1Char(' '));
    return parts.size() >= 2 ? parts[0] + QLatin1Char(' ') + parts[1] : QString();
}

QString SftpTestServer::hostKeyFingerprint() const
{
    const QByteArray key = QByteArray::fromBase64(hostKey().section(QLatin1Char(' '), 1).toLatin1());
    return QStringLiteral("SHA256:") +
           QString::fromLatin1(
               QCryptographicHash::hash(key, QCryptographicHash::Sha256).toBase64(QByteArray::OmitTrailingEquals));
}

QString SftpTestServer::knownHostsName() const
{
    return QStringLiteral("[%1]:%2").arg(host()).arg(m_lastPort);
}

QStringList SftpTestServer::events() const
{
    QFile f(m_work.filePath(QStringLiteral("events.log")));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void SftpTestServer::clearEvents()
{
    QFile f(m_work.filePath(QStringLiteral("events.log")));
    if (f.exists())
        f.resize(0);
}

bool SftpTestServer::writeFile(const QString& relativePath, const QByteArray& content) const
{
    const QString full = path(relativePath);
    if (!QDir().mkpath(QFileInfo(full).absolutePath()))
        return false;
    QFile f(full);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(content) == content.size();
}

bool SftpTestServer::makeDir(const QString& relativePath) const
{
    return QDir().mkpath(path(relativePath));
}

QString SftpTestServer::path(const QString& relativePath) const
{
    return QDir(m_home).filePath(relativePath);
}
