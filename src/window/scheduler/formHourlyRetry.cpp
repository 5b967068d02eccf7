// An hour whose image did not land, tried again while the server may come back: a fresh
// login, the folder change, the upload under the temporary name and its rename, and the
// goodbye, through the session's own calls. Quietly: the hour showed its box when it
// first failed; the tries only write to the log.
#include "core/base/eventLog.h"
#include "core/base/raisedFlag.h"
#include "core/ftp/passingFailure.h"
#include "core/scheduler/hourlyRetry.h"
#include "core/scheduler/hourlyRules.h"
#include "window/app/ftpForm.h"
#include "window/app/platform.h"
#include "window/scheduler/formTimer.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QLineEdit>

using namespace wininet;

namespace {

QString timeText(int secondOfDay)
{
    return clockText(QTime(0, 0).addSecs(secondOfDay));
}

} // namespace

FTPform::HourlyTry FTPform::hourDue(int dueAt)
{
    HourlyTry hour;
    hour.localFile = Text5->text();
    hour.remoteName = sSendFile;
    hour.folder = remoteFolderOf(text1->text(), text4->text());
    if (hour.folder.isEmpty())
        hour.folder = QStringLiteral("\\");
    hour.dueAt = dueAt;
    return hour;
}

void FTPform::planTries(HourlyTry hour, const FtpFailure& failure, const QString& why)
{
    // Stopped meanwhile, or decided already by the other tick of the second.
    if (!Timer4->running() || (m_hourStage.dueAt == hour.dueAt && m_hourStage.judged) ||
        (m_hourlyTry && m_hourlyTry->dueAt == hour.dueAt))
        return;
    if (m_hourStage.dueAt == hour.dueAt)
        m_hourStage.judged = true;
    const QString reason = why.isEmpty() ? FtpSession::describe(failure) : why;
    if (!mayPass(failure)) {
        eventlog::warning(QStringLiteral("hourly: %1 not sent: %2; that will not pass within the hour, so it is not "
                                         "tried again")
                              .arg(hour.remoteName, reason));
        return;
    }
    const std::optional<int> next = nextTryAt(hour.dueAt, secondOfDay(m_platform.timeOfDay()), 0);
    if (!next) {
        eventlog::warning(QStringLiteral("hourly: %1 not sent: %2; no time is left before the next hour's cycle")
                              .arg(hour.remoteName, reason));
        return;
    }
    hour.nextAt = *next;
    eventlog::warning(QStringLiteral("hourly: %1 did not land at %2 (%3); try 1 at %4")
                          .arg(hour.remoteName, timeText(hour.dueAt), reason, timeText(hour.nextAt)));
    m_hourlyTry = hour;
}

void FTPform::stopTries(const QString& why)
{
    if (!m_hourlyTry)
        return;
    if (!why.isEmpty())
        eventlog::warning(QStringLiteral("hourly: %1 not sent: %2").arg(m_hourlyTry->remoteName, why));
    m_hourlyTry.reset();
}

Task<> FTPform::tryHourAgain(int now)
{
    if (!m_hourlyTry || m_tryUnderWay)
        co_return;
    HourlyTry hour = *m_hourlyTry;
    if (triesOver(hour.dueAt, now)) {
        stopTries(QStringLiteral("the next hour's cycle begins"));
        co_return;
    }
    // A call under way (a click of the operator, the manual transfer) goes first; the
    // try goes at the next tick after it.
    if (secondsSinceDue(hour.dueAt, now) < secondsSinceDue(hour.dueAt, hour.nextAt) || m_session.busy())
        co_return;
    // Everything the try needs, read before its first wait.
    const QString server = text1->text();
    const QString user = text2->text();
    const QString password = text3->text();
    const bool passive = chkPassive->isChecked();
    const bool ownSession = !m_session.connected(); // the operator's session is used as it is
    ++hour.tries;
    m_hourlyTry = hour;
    const RaisedFlag underWay(m_tryUnderWay);
    eventlog::info(
        QStringLiteral("hourly: try %1 of %2 (due at %3)").arg(hour.tries).arg(hour.remoteName, timeText(hour.dueAt)));

    std::optional<FtpFailure> failure;
    // An image still missing or empty costs no login.
    const QFileInfo image(hour.localFile);
    if (!image.isFile())
        failure = FtpFailure{ERROR_FILE_NOT_FOUND, QStringLiteral("FtpPutFile"), {}, {}};
    else if (image.size() == 0)
        failure = FtpFailure{ERROR_HANDLE_EOF, QStringLiteral("FtpPutFile"), {}, {}};
    if (!failure && ownSession) {
        failure = co_await m_session.connect(server, user, password, passive);
        if (!failure)
            EnableUI(true);
    }
    // Into the hour's folder or not at all: a fresh login starts elsewhere.
    if (!failure)
        failure = co_await m_session.changeFolder(folderChangeTarget(server, hour.folder));
    if (!failure)
        failure = co_await m_session.putFile(hour.localFile, hour.remoteName, lTransferType);
    if (ownSession && m_session.connected()) {
        co_await m_session.disconnect();
        EnableUI(true);
    }

    const int doneAt = secondOfDay(m_platform.timeOfDay());
    if (!m_hourlyTry || m_hourlyTry->dueAt != hour.dueAt)
        co_return; // stopped meanwhile
    if (!failure) {
        eventlog::info(QStringLiteral("hourly: %1 landed on try %2, %3 s after its second")
                           .arg(hour.remoteName)
                           .arg(hour.tries)
                           .arg(secondsSinceDue(hour.dueAt, doneAt)));
        m_hourlyTry.reset();
        co_return;
    }
    const QString reason = FtpSession::describe(*failure);
    if (!mayPass(*failure)) {
        stopTries(
            QStringLiteral("try %1 failed (%2), and that will not pass within the hour").arg(hour.tries).arg(reason));
        co_return;
    }
    const std::optional<int> next = nextTryAt(hour.dueAt, doneAt, hour.tries);
    if (!next) {
        stopTries(QStringLiteral("try %1 failed (%2); the next hour's cycle begins before another")
                      .arg(hour.tries)
                      .arg(reason));
        co_return;
    }
    m_hourlyTry->nextAt = *next;
    eventlog::warning(QStringLiteral("hourly: try %1 of %2 failed (%3); try %4 at %5")
                          .arg(hour.tries)
                          .arg(hour.remoteName, reason)
                          .arg(hour.tries + 1)
                          .arg(timeText(*next)));
}
