// The clock label and ending the program at a set time of day.
#include "app/ftpForm.h"

#include "app/platform.h"
#include "base/eventLog.h"
#include "scheduler/clockText.h"

#include <QLabel>
#include <QLineEdit>

#include <algorithm>
#include <cmath>

namespace {
// How long the wait sleeps at most before it looks at the clock again. Events (clicks,
// timer ticks) wake it earlier; this only bounds how late the end can be noticed.
constexpr double kWakeUpSeconds = 0.25;
} // namespace

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
    try {
        armProgramEnd();
    } catch (const std::exception& fault) {
        EventLog::fault("Command3_Click", fault, QStringLiteral("shown: FTP.txt ファイルがありません"));
        m_platform.showMessage(QStringLiteral("FTP.txt ファイルがありません"));
    }
}

void FTPform::armProgramEnd()
{
    if (NumericValue(Text11->text()) > 24 || NumericValue(Text10->text()) > 59 || NumericValue(Text9->text()) > 59) {
        m_platform.showMessage(QStringLiteral("時、分、秒を設定しなおして下さい"));
        return;
    }
    const ClockParts now = SplitClockText(ClockNow());
    const QString endHour = Text11->text();
    const QString endMinute = Text10->text();
    const QString endSecond = Text9->text();
    if (endHour.isEmpty() || endMinute.isEmpty() || endSecond.isEmpty()) {
        m_platform.showMessage(QStringLiteral("時、分、秒を設定して下さい"));
        return;
    }
    if (endHour.size() != 2 || endMinute.size() != 2 || endSecond.size() != 2) {
        m_platform.showMessage(QStringLiteral("時、分、秒は２桁で設定して下さい"));
        return;
    }
    Label10->setText(QStringLiteral("終了タイマ－作動中"));

    const long wait = ProgramEndWait(NumericValue(endHour), NumericValue(endMinute), NumericValue(endSecond),
                                     NumericValue(now.hour), NumericValue(now.minute), NumericValue(now.second));
    lEndWait = static_cast<std::int32_t>(wait);
    EventLog::info(
        QStringLiteral("program end: armed for %1:%2:%3, in %4 s").arg(endHour, endMinute, endSecond).arg(wait));

    // The window keeps working during the wait: every other handler, another arming
    // included, runs from in here. The wait sleeps until an event or a short wake-up
    // rather than polling, so hours of waiting cost no CPU.
    const double start = m_platform.monotonicSeconds();
    double elapsed = 0;
    while (elapsed < static_cast<double>(wait)) {
        m_platform.waitForEvents(std::min(kWakeUpSeconds, static_cast<double>(wait) - elapsed));
        if (m_unloaded)
            return; // the window was closed meanwhile; the program is ending anyway
        elapsed = m_platform.monotonicSeconds() - start;
    }

    // A cancel, a newer arming, or a wait held up past its second by another handler.
    if (lEndWait != static_cast<std::int32_t>(std::floor(elapsed)))
        return;

    Label6->setText(ClockNow());
    const ClockParts shown = SplitClockText(Label6->text());
    if (shown.minute != endMinute || shown.second != endSecond) {
        EventLog::info(QStringLiteral("program end: the wait for %1:%2:%3 is over but the clock shows %4; not ending")
                           .arg(endHour, endMinute, endSecond, Label6->text()));
        return;
    }

    EventLog::info(QStringLiteral("program end: reached at %1; ending").arg(Label6->text()));
    if (m_session.connected())
        EndSession();
    m_platform.endProcess();
}

void FTPform::Command7_Click()
{
    if (lEndWait != 0)
        EventLog::info(QStringLiteral("program end: cancelled"));
    Label10->setText(QString());
    lEndWait = 0;
}
