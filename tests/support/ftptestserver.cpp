#include "ftptestserver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

FtpTestServer::FtpTestServer(FtpTestServerOptions options) : m_options(std::move(options))
{
    if (m_options.home.isEmpty()) {
        m_ownHome = std::make_unique<QTemporaryDir>();
        m_home = m_ownHome->path();
    } else {
        m_home = QDir(m_options.home).absolutePath();
    }
    // The log lives outside home so it never shows up in a listing.
    m_logPath = m_logDir.filePath(QStringLiteral("commands.log"));
}

FtpTestServer::~FtpTestServer()
{
    stop();
}

bool FtpTestServer::start()
{
    if (m_port != 0)
        return true;
    QFile::remove(m_logPath);
    QStringList args{QStringLiteral(SKYLARK_FTP_SERVER_SCRIPT),
                     m_logPath,
                     QStringLiteral("--home"),
                     m_home,
                     QStringLiteral("--user"),
                     m_options.user,
                     QStringLiteral("--password"),
                     m_options.password};
    for (const auto& dir : m_options.readonlyDirs)
        args << QStringLiteral("--readonly") << dir;
    if (m_options.refuseLogin)
        args << QStringLiteral("--refuse-login");
    if (!m_options.refuseText.isEmpty())
        args << QStringLiteral("--refuse-text") << m_options.refuseText;
    if (m_options.delaySeconds > 0)
        args << QStringLiteral("--delay") << QString::number(m_options.delaySeconds);
    if (m_options.uploadRate > 0)
        args << QStringLiteral("--upload-rate") << QString::number(m_options.uploadRate);
    if (m_options.silent == FtpTestServerOptions::Silent::Greeting)
        args << QStringLiteral("--silent") << QStringLiteral("greeting");
    else if (m_options.silent == FtpTestServerOptions::Silent::AfterLogin)
        args << QStringLiteral("--silent") << QStringLiteral("after-login");
    if (!m_options.dropOn.isEmpty())
        args << QStringLiteral("--drop-on") << m_options.dropOn;
    if (!m_options.silentFrom.isEmpty())
        args << QStringLiteral("--silent-from") << m_options.silentFrom;
    if (m_options.dropAfterBytes >= 0)
        args << QStringLiteral("--drop-after-bytes") << QString::number(m_options.dropAfterBytes);
    if (m_options.fullAfterBytes >= 0)
        args << QStringLiteral("--full-after-bytes") << QString::number(m_options.fullAfterBytes);
    if (m_options.idleTimeoutSeconds > 0)
        args << QStringLiteral("--idle-timeout") << QString::number(m_options.idleTimeoutSeconds);
    if (m_options.noMlst)
        args << QStringLiteral("--no-mlst");
    if (m_options.diskFull)
        args << QStringLiteral("--disk-full");
    if (!m_options.localErrorWhile.isEmpty())
        args << QStringLiteral("--local-error-while") << m_options.localErrorWhile;
    if (m_options.refuseRename)
        args << QStringLiteral("--refuse-rename");
    for (const QString& suffix : m_options.refuseSuffixes)
        args << QStringLiteral("--refuse-suffix") << suffix;
    if (m_options.echoPassword)
        args << QStringLiteral("--echo-password");
    if (m_options.ipv6)
        args << QStringLiteral("--ipv6");
    if (m_lastPort != 0)
        args << QStringLiteral("--port") << QString::number(m_lastPort);

    // pyftpdlib logs each session on stderr; nobody reads it, so it must not pile up.
    m_port = m_process.start(QStringLiteral("FTP test server"), args, QProcess::nullDevice(), 10000);
    if (m_port != 0)
        m_lastPort = m_port;
    return m_port != 0;
}

void FtpTestServer::stop()
{
    m_process.stop();
    m_port = 0;
}

QString FtpTestServer::host() const
{
    return m_options.ipv6 ? QStringLiteral("::1") : QStringLiteral("127.0.0.1");
}

QByteArray FtpTestServer::address() const
{
    const QString h = m_options.ipv6 ? QStringLiteral("[::1]") : host();
    return QStringLiteral("%1:%2").arg(h).arg(m_port).toUtf8();
}

QStringList FtpTestServer::commands() const
{
    QFile f(m_logPath);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList out = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (auto& line : out)
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    return out;
}

void FtpTestServer::clearCommands()
{
    // The server appends to the same open file; truncating it in place keeps the
    // server's offset valid (it writes in append mode).
    QFile f(m_logPath);
    if (f.exists())
        f.resize(0);
}

bool FtpTestServer::writeFile(const QString& relativePath, const QByteArray& content) const
{
    const QString full = path(relativePath);
    if (!QDir().mkpath(QFileInfo(full).absolutePath()))
        return false;
    QFile f(full);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(content) == content.size();
}

bool FtpTestServer::makeDir(const QString& relativePath) const
{
    return QDir().mkpath(path(relativePath));
}

QString FtpTestServer::path(const QString& relativePath) const
{
    return QDir(m_home).filePath(relativePath);
}

int FtpTestServer::uploadsOf(const QString& name) const
{
    int n = 0;
    for (const QString& command : commands()) {
        // A rename names the file by its path, a store by its name in the current folder.
        if (command == QStringLiteral("STOR ") + name)
            ++n;
        else if (command.startsWith(QStringLiteral("RNTO ")) &&
                 (command.endsWith(QLatin1Char('/') + name) || command == QStringLiteral("RNTO ") + name))
            ++n;
    }
    return n;
}

int FtpTestServer::storesOf(const QString& name) const
{
    const QStringList all = commands();
    return static_cast<int>(all.count(QStringLiteral("STOR ") + name) +
                            all.count(QStringLiteral("STOR ") + name + QStringLiteral(".part")));
}

int FtpTestServer::commandsStartingWith(const QString& prefix) const
{
    int n = 0;
    for (const QString& c : commands())
        n += c.startsWith(prefix) ? 1 : 0;
    return n;
}
