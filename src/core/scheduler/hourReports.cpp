#include "core/scheduler/hourReports.h"

#include "core/base/eventLog.h"

#include <QFile>
#include <QFileInfo>

HourReports::HourReports(const QString& folder, Messenger::Timing timing) : m_record(folder)
{
    const std::optional<AlertFile> file = readAlertSettings(folder);
    if (!file)
        return;
    for (const QString& mistake : file->mistakes)
        eventlog::warning(QStringLiteral("alert: %1").arg(mistake));
    const AlertSettings& settings = file->settings;
    for (const QString& secret : settings.secrets())
        eventlog::addSecret(secret);
    if (!settings.any()) {
        eventlog::warning(QStringLiteral("alert: alert.txt names nowhere to send to (mail, url or ping)"));
        return;
    }
    const int lost = m_record.lostInARow();
    m_alerts.emplace(settings.after, settings.staleHours, lost);
    m_messenger = std::make_unique<Messenger>(settings, timing);
    QStringList where;
    if (!settings.mail.isEmpty())
        where << QStringLiteral("mail to %1 through %2")
                     .arg(eventlog::quote(settings.mail), eventlog::quote(settings.smtp));
    if (!settings.url.isEmpty())
        where << QStringLiteral("url %1").arg(eventlog::quote(AlertSettings::shown(settings.url)));
    if (!settings.ping.isEmpty())
        where << QStringLiteral("ping %1").arg(eventlog::quote(AlertSettings::shown(settings.ping)));
    eventlog::info(
        QStringLiteral("alert: %1; after %2 lost hour%3%4; %5 lost in a row so far")
            .arg(where.join(QStringLiteral(", ")))
            .arg(settings.after)
            .arg(settings.after == 1 ? "" : "s")
            .arg(settings.staleHours ? QStringLiteral(", stale after %1 h").arg(*settings.staleHours) : QString())
            .arg(lost));
}

HourReports::~HourReports()
{
    end();
}

bool HourReports::end()
{
    return m_messenger && m_messenger->end();
}

void HourReports::hourDecided(const HourOutcome& outcome)
{
    const QFileInfo image(outcome.image.localFile);
    HourReport report;
    report.due = outcome.due;
    report.file = outcome.image.remoteName;
    report.landed = outcome.landed;
    report.tries = outcome.tries;
    report.reason = outcome.reason;
    if (image.isFile())
        report.imageAge = image.lastModified().secsTo(outcome.due);
    const bool stale = report.imageAge && *report.imageAge > kStaleAfterSeconds;
    if (stale)
        eventlog::warning(
            QStringLiteral("hourly: %1 was last written %2 before its second (at %3); the camera may "
                           "have stopped")
                .arg(report.file, japaneseSpan(*report.imageAge), image.lastModified().toString(Qt::ISODate)));

    RecordLine line;
    line.due = outcome.due;
    line.file = report.file;
    line.landed = outcome.landed;
    line.tries = outcome.tries;
    line.bytes = image.isFile() ? image.size() : 0;
    QStringList reason;
    if (outcome.cutByEnd)
        reason << QLatin1String(kProgramEndedReason);
    else if (stale)
        reason << QStringLiteral("stale");
    if (!outcome.landed && !outcome.cutByEnd)
        reason << outcome.reason;
    line.reason = reason.join(QStringLiteral("; "));
    m_record.append(line);

    // An hour the end cut off tells nothing of the server, and no message could go now.
    if (!m_alerts || outcome.cutByEnd)
        return;
    const QList<OwnerMessage> messages = m_alerts->hourDecided(report, outcome.landed ? QStringList() : logTail(20));
    for (const OwnerMessage& message : messages) {
        eventlog::info(QStringLiteral("alert: sending %1").arg(eventlog::quote(message.subject)));
        m_messenger->send(message);
    }
    if (outcome.landed)
        m_messenger->ping();
}

QStringList logTail(int lines)
{
    QFile file(eventlog::path());
    if (eventlog::path().isEmpty() || !file.open(QIODevice::ReadOnly))
        return {};
    constexpr qint64 kTail = qint64{8} * 1024;
    if (file.size() > kTail)
        file.seek(file.size() - kTail);
    QStringList all = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (file.size() > kTail && !all.isEmpty())
        all.removeFirst(); // the part of a line the seek cut
    for (QString& line : all)
        line = eventlog::withoutSecrets(line.trimmed());
    return all.mid(std::max<qsizetype>(0, all.size() - lines));
}
