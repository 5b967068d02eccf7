#include "serverprocess.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QFile>

#include <sys/prctl.h>

#include <csignal>

bool pythonHas(const QString& module, const QString& package, QString* why)
{
    QProcess probe;
    probe.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral("import ") + module});
    const bool ok = probe.waitForFinished(20000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
    if (why)
        *why = ok ? QString() : QStringLiteral("%1 is not installed (scripts/deps.sh --test)").arg(package);
    return ok;
}

quint16 ServerProcess::start(const QString& what, const QStringList& args, const QString& stderrFile, int timeoutMs)
{
    stop();
    m_process = std::make_unique<QProcess>();
    m_process->setStandardErrorFile(stderrFile);
    m_process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    // Debian's interpreter, the one that sees the distribution's python3 packages.
    m_process->start(QStringLiteral("/usr/bin/python3"), args);
    bool ok = m_process->waitForStarted(timeoutMs);
    QByteArray line;
    if (ok) {
        const QDeadlineTimer deadline(timeoutMs);
        while (!m_process->canReadLine() && !deadline.hasExpired() && m_process->state() == QProcess::Running)
            m_process->waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
        if (m_process->canReadLine())
            line = m_process->readLine().trimmed();
    }
    const uint port = line.toUInt(&ok);
    if (ok && port > 0 && port <= 65535)
        return static_cast<quint16>(port);
    stop();
    QFile err(stderrFile);
    const QByteArray complaint = err.open(QIODevice::ReadOnly) ? err.readAll().right(2000) : QByteArray();
    qWarning().noquote() << what << "did not come up; it said:" << line << complaint;
    return 0;
}

void ServerProcess::stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        // QProcess::terminate sends SIGTERM to exactly this child's process id.
        m_process->terminate();
        if (!m_process->waitForFinished(5000)) {
            m_process->kill();
            m_process->waitForFinished(3000);
        }
    }
    m_process.reset();
}
