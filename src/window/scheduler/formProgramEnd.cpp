// The clock label and ending the program at a set time of day.
#include "core/base/eventLog.h"
#include "core/scheduler/clockText.h"
#include "window/app/ftpForm.h"
#include "window/app/messages.h"
#include "window/app/platform.h"
#include "window/ftp/keyedTree.h"

#include <QLabel>
#include <QLineEdit>

#include <cmath>

QString FTPform::clockNow()
{
    return clockText(m_platform.timeOfDay());
}

void FTPform::Timer3_Timer()
{
    Label6->setText(clockNow());
}

void FTPform::Command3_Click()
{
    if (numericValue(Text11->text()) > 24 || numericValue(Text10->text()) > 59 || numericValue(Text9->text()) > 59) {
        m_platform.showMessage(kResetHourMinuteSecond);
        return;
    }
    const ClockParts now = SplitClockText(clockNow());
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

    arming.wait = programEndWait(numericValue(arming.hour), numericValue(arming.minute), numericValue(arming.second),
                                 numericValue(now.hour), numericValue(now.minute), numericValue(now.second));
    lEndWait = static_cast<std::int32_t>(arming.wait);
    eventlog::info(QStringLiteral("program end: armed for %1:%2:%3, in %4 s")
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

    Label6->setText(clockNow());
    const ClockParts shown = SplitClockText(Label6->text());
    if (shown.minute != arming.minute || shown.second != arming.second) {
        eventlog::info(QStringLiteral("program end: the wait for %1:%2:%3 is over but the clock shows %4; not ending")
                           .arg(arming.hour, arming.minute, arming.second, Label6->text()));
        return;
    }
    eventlog::info(QStringLiteral("program end: reached at %1; ending").arg(Label6->text()));
    endProgramNow();
}

void FTPform::endProgramNow()
{
    // The session's own closing steps, as the Disconnect button takes them; a call
    // under way is cut short rather than waited for.
    if (m_session.connected()) {
        stopNetwork(SessionThread::Ending::CloseSession, QStringLiteral("the program end"));
        removeServerNode(text1->text());
        EnableUI(true);
    } else {
        stopNetwork(SessionThread::Ending::Abandon, QStringLiteral("the program end"));
    }
    m_platform.endProcess();
}

void FTPform::Command7_Click()
{
    if (lEndWait != 0)
        eventlog::info(QStringLiteral("program end: cancelled"));
    Label10->setText(QString());
    lEndWait = 0;
}
