#include "core/base/instanceLock.h"

#include <QDir>
#include <QFile>
#include <QSysInfo>

namespace {
// The one notion of "this machine" for a lock file, judged as QLockFile writes and
// judges it. Its lines are the process id, the program's name, the machine's name and
// the machine's id. The id decides when both sides have one: the name is not the same
// on both sides everywhere (on Windows Qt writes %COMPUTERNAME%, the NetBIOS name, cut
// to 15 characters and in capitals, not the host name of QSysInfo). Without an id, the
// name as Qt writes it on this system decides; names are not case-sensitive.
bool writtenOnThisMachine(const QString& lockFileName, const QString& host)
{
    QFile file(lockFileName);
    if (file.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> lines = file.readAll().split('\n');
        const QByteArray id = lines.size() > 3 ? lines[3].trimmed() : QByteArray();
        const QByteArray ours = QSysInfo::machineUniqueId();
        if (!id.isEmpty() && !ours.isEmpty())
            return id == ours;
    }
#ifdef Q_OS_WIN
    const QString ourName = qEnvironmentVariable("COMPUTERNAME");
#else
    const QString ourName = QSysInfo::machineHostName();
#endif
    return host.compare(ourName, Qt::CaseInsensitive) == 0;
}
} // namespace

InstanceLock::InstanceLock(const QString& folder) : m_file(QDir(folder).filePath(QString::fromLatin1(kFileName)))
{
    // QLockFile also calls a lock stale once it is older than this time, even when its
    // owner is alive and well; 0 leaves only the question whether the owner still runs.
    m_file.setStaleLockTime(0);
}

InstanceLock::Outcome InstanceLock::acquire()
{
    if (m_file.tryLock(0))
        return Outcome::Mine;
    if (m_file.error() != QLockFile::LockFailedError)
        return Outcome::Unavailable;
    // QLockFile judged the owner alive by its process id and the program's name, which a
    // reused id can fool. Removal is refused while the owner runs: on Windows the owner's
    // open file cannot be deleted, on Linux the owner holds flock() on it. Not so for a
    // lock of another machine: a folder shared over the network may not pass locks on.
    if (heldOnThisMachine() && m_file.removeStaleLockFile() && m_file.tryLock(0))
        return Outcome::Mine;
    return Outcome::Taken;
}

bool InstanceLock::heldOnThisMachine() const
{
    qint64 pid = 0;
    QString host, application;
    return m_file.getLockInfo(&pid, &host, &application) && writtenOnThisMachine(m_file.fileName(), host);
}

QString InstanceLock::holder() const
{
    qint64 pid = 0;
    QString host, application;
    if (!m_file.getLockInfo(&pid, &host, &application))
        return QStringLiteral("unknown");
    QString text = QStringLiteral("pid %1").arg(pid);
    if (!host.isEmpty() && !writtenOnThisMachine(m_file.fileName(), host))
        text += QStringLiteral(" on ") + host;
    return text;
}

QString InstanceLock::reason() const
{
    switch (m_file.error()) {
    case QLockFile::NoError:
        return QStringLiteral("none");
    case QLockFile::LockFailedError:
        return QStringLiteral("held by another process");
    case QLockFile::PermissionError:
        return QStringLiteral("no permission to create ") + m_file.fileName();
    case QLockFile::UnknownError:
        break;
    }
    return QStringLiteral("cannot create ") + m_file.fileName();
}

void InstanceLock::release()
{
    m_file.unlock();
}
