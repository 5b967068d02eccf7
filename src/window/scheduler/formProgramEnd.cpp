// The clock label and ending the program at a set time of day.
#include "window/app/ftpForm.h"

#include "window/app/messages.h"
#include "window/ftp/keyedTree.h"
#include "window/app/platform.h"
#include "core/base/eventLog.h"
#include "core/scheduler/clockText.h"

#include <QLabel>
#include <QLineEdit>

#include <cmath>

QString FTPform::ClockNow()
{
    return ClockText(m_platform.timeOfDay());
}

void FTPform::Timer3_Timer()
{
    Label6->setText(ClockNow());
}

void FTPform::Command3_Click()
{
    if (NumericValue(Text11->text()) > 24 || NumericValue(Text10->text()) > 59 || NumericValue(Text9->text()) > 59) {
        m_platform.showMessage(kResetHourMinuteSecond);
        return;
    }
    const ClockParts now = SplitClockText(ClockNow());
    EndArming arming;
    arming.hour = Text11->text();
    arming.minute = Text10->text();
    arming.second = Text9->text();
    if (arming.hour.isEmpty() || arming.minute.isEmpty() || arming.second.isEmpty()) {
        m_platform.showMessage(kSetHourMinuteSecond);
        return;
    }
    if (arming.hour.size() != 2 || arming.minute.size() != 2 || arming.second.size() != 2) {
        m_platform.showMessage(kHourMinuteSecondTwoDigits);
        return;
    }
    Label10->setText(kEndTimerRunning);

    arming.wait = ProgramEndWait(NumericValue(arming.hour), NumericValue(arming.minute), NumericValue(arming.second),
                                 NumericValue(now.hour), NumericValue(now.minute), NumericValue(now.second));
    lEndWait = static_cast<std::int32_t>(arming.wait);
    EventLog::info(QStringLiteral("program end: armed for %1:%2:%3, in %4 s")
                       .arg(arming.hour, arming.minute, arming.second)
                       .arg(arming.wait));
    arming.start = m_platform.monotonicSeconds();
    // The wait is a deadline: every handler runs meanwhile, another arming or a cancel
    // included, and the latest one decides when each deadline comes. A wait of 0 ends
    // here and now.
    if (arming.wait == 0)
        programEndDue(arming);
    else
        awaitProgramEnd(arming);
}

void FTPform::awaitProgramEnd(const EndArming& arming)
{
    // Still the arming's own handling, with its fault message.
    m_platform.callAt(arming.start + static_cast<double>(arming.wait), m_endWaits, [this, arming] {
        guarded("Command3_Click", kSettingsMissing, [this, &arming] { programEndDue(arming); });
    });
}

void FTPform::programEndDue(const EndArming& arming)
{
    const double elapsed = m_platform.monotonicSeconds() - arming.start;
    if (elapsed < static_cast<double>(arming.wait)) {
        awaitProgramEnd(arming); // woken before its time
        return;
    }
    // A cancel, a newer arming, or a deadline held up past its second.
    if (lEndWait != static_cast<std::int32_t>(std::floor(elapsed)))
        return;

    Label6->setText(ClockNow());
    const ClockParts shown = SplitClockText(Label6->text());
    if (shown.minute != arming.minute || shown.second != arming.second) {
        EventLog::info(QStringLiteral("program end: the wait for %1:%2:%3 is over but the clock shows %4; not ending")
                           .arg(arming.hour, arming.minute, arming.second, Label6->text()));
        return;
    }
    EventLog::info(QStringLiteral("program end: reached at %1; ending").arg(Label6->text()));
    endProgramNow();
}

void FTPform::endProgramNow()
{
    // The session's own closing steps, as the Disconnect button takes them; a call
    // under way is cut short rather than waited for.
    if (m_session.connected()) {
        stopNetwork(SessionThread::Ending::CloseSession, QStringLiteral("the program end"));
        RemoveServerNode();
        EnableUI(true);
    } else {
        stopNetwork(SessionThread::Ending::Abandon, QStringLiteral("the program end"));
    }
    m_platform.endProcess();
}

void FTPform::Command7_Click()
{
    if (lEndWait != 0)
        EventLog::info(QStringLiteral("program end: cancelled"));
    Label10->setText(QString());
    lEndWait = 0;
}
