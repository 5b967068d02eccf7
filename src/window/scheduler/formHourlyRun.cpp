// The three stages of an hourly cycle: connect ten seconds before the set second,
// upload at it, disconnect ten seconds after. Each stage reads the minute and second
// boxes on every tick and asks the scheduler's rules whether its time has come.
//
// A call of an earlier handler may still be under way when a stage comes due (a slow
// server). A window blocked in that call could not have started a second connect or
// another upload then, so those stages let their tick pass; the disconnect runs as soon
// as the call is over, so no hour keeps its session.
#include "core/base/eventLog.h"
#include "core/base/raisedFlag.h"
#include "core/base/runtimeFault.h"
#include "core/scheduler/hourlyRetry.h"
#include "core/scheduler/hourlyRules.h"
#include "window/app/ftpForm.h"
#include "window/app/messages.h"
#include "window/app/platform.h"

#include <QLabel>
#include <QLineEdit>

using namespace wininet;

namespace {

void logPassedOver(const char* stage)
{
    eventlog::info(QStringLiteral("hourly: the %1 stage is due while a call is under way; it lets this tick pass")
                       .arg(QLatin1String(stage)));
}
} // namespace

ClockParts FTPform::stampClock()
{
    Label6->setText(clockNow());
    return SplitClockText(Label6->text());
}

Task<> FTPform::Timer5_Timer()
{
    const QString minute = Text8->text();
    const QString second = Text6->text();
    const ClockParts now = stampClock();
    if (!connectStageDue(minute, second, now) || m_session.connected() || !m_session.internetOpen())
        co_return;
    if (m_session.busy()) {
        logPassedOver("connect");
        co_return;
    }
    const QString server = text1->text();
    if (server.isEmpty()) {
        m_platform.showMessage(kEnterServer);
        co_return;
    }
    const double at = m_platform.monotonicSeconds();
    // Why the upload stage will find no session, if it does. (Not in one braced
    // assignment: GCC 12 destroys a co_await's result inside one twice.)
    std::optional<FtpFailure> failure = co_await ConnectSession(server, text2->text(), text3->text());
    m_hourlyConnect.failure = std::move(failure);
    m_hourlyConnect.at = at;
}

Task<> FTPform::Timer4_Timer()
{
    Label13->setText(kHourlyRunning);
    const QString minute = Text8->text();
    const QString second = Text6->text();
    const ClockParts now = stampClock();
    if (!uploadStageDue(minute, second, now)) {
        // Between the stages, an hour that did not land may be due for another try.
        co_await tryHourAgain(secondOfDay(now));
        co_return;
    }
    const int dueAt = secondOfDay(now);
    if (m_hourlyTry && m_hourlyTry->dueAt != dueAt)
        stopTries(QStringLiteral("the next hour's cycle begins"));
    if (m_session.busy()) {
        logPassedOver("upload");
        // Unless this hour's own upload is what runs, the hour is tried again later. A
        // folder box that cannot be read is the stage's to report, not this tick's.
        if (m_hourStage.dueAt != dueAt && !sSendFile.isEmpty()) {
            try {
                planTries(hourDue(dueAt), FtpFailure{ERROR_INTERNET_TIMEOUT, QStringLiteral("FtpPutFile"), {}, {}},
                          QStringLiteral("a call was under way at the upload second"));
            } catch (const RuntimeFault&) {
            }
        }
        co_return;
    }
    if (sSendFile.isEmpty()) {
        m_platform.showMessage(kChooseFileToUpload);
        co_return;
    }
    // The hour that is due, read now: with the upload second late in the hour and a
    // server slow to answer, the refresher rolls the boxes on to the next hour meanwhile.
    const HourlyTry hour = hourDue(dueAt);
    const bool hadSession = m_session.connected();
    const double sinceConnect = m_platform.monotonicSeconds() - m_hourlyConnect.at;
    const std::optional<FtpFailure> connectFailure =
        sinceConnect >= 0 && sinceConnect < 60 ? m_hourlyConnect.failure : std::nullopt;
    if (m_hourStage.dueAt != dueAt)
        m_hourStage = {dueAt, false, false};
    // The upload goes ahead into the current folder even when the change failed.
    co_await ChangeRemoteDir(hour.folder);
    const std::optional<FtpFailure> failure =
        co_await m_session.putFile(hour.localFile, hour.remoteName, lTransferType);
    if (!failure) {
        m_hourStage.landed = true;
        stopTries({}); // an earlier tick of this second failed; this one landed
        co_return;
    }
    ErrorOut(*failure);
    if (m_hourStage.landed)
        co_return; // the other tick of the second sent it
    if (hadSession)
        planTries(hour, *failure, {});
    else if (connectFailure)
        planTries(hour, *connectFailure, {}); // why the connect failed says whether it may pass
    // No connect was made for this hour (a second box under 10 never connects): as ever,
    // the hour fails.
}

Task<> FTPform::Timer6_Timer()
{
    const QString minute = Text8->text();
    const QString second = Text6->text();
    const ClockParts now = stampClock();
    if (!disconnectStageDue(minute, second, now)) {
        // One that came due during a call, and waits for a moment without one.
        if (m_lateDisconnect && !m_session.busy())
            co_await lateDisconnect();
        co_return;
    }
    if (m_disconnecting)
        co_return; // this second's first tick is closing the session already
    if (m_session.busy()) {
        if (!m_lateDisconnect) {
            m_lateDisconnect = m_platform.monotonicSeconds();
            eventlog::info(QStringLiteral("hourly: the disconnect stage is due while a call is under way; it runs as "
                                          "soon as the call is over"));
        }
        co_return;
    }
    const RaisedFlag disconnecting(m_disconnecting);
    co_await endSession();
}

Task<> FTPform::lateDisconnect()
{
    const double late = m_platform.monotonicSeconds() - *m_lateDisconnect;
    m_lateDisconnect.reset();
    eventlog::info(QStringLiteral("hourly: the disconnect runs %1 s late, after the call that was under way")
                       .arg(late, 0, 'f', 1));
    const RaisedFlag disconnecting(m_disconnecting);
    co_await endSession();
}
