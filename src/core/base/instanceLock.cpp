#include "core/base/instanceLock.h"

#include <QDir>
#include <QSysInfo>

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
    return m_file.error() == QLockFile::LockFailedError ? Outcome::Taken : Outcome::Unavailable;
}

QString InstanceLock::holder() const
{
    qint64 pid = 0;
    QString host, application;
    if (!m_file.getLockInfo(&pid, &host, &application))
        return QStringLiteral("unknown");
    QString text = QStringLiteral("pid %1").arg(pid);
    if (!host.isEmpty() && host != QSysInfo::machineHostName())
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
