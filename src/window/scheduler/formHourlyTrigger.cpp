// Arming and stopping the hourly upload, and the refresher that follows the hour.
#include "core/base/eventLog.h"
#include "core/scheduler/hourlyRules.h"
#include "window/app/ftpForm.h"
#include "window/app/messages.h"
#include "window/app/platform.h"
#include "window/scheduler/formTimer.h"

#include <QLabel>
#include <QLineEdit>

namespace {
constexpr int kStageInterval = 500;
}

void FTPform::RefreshSendFile()
{
    const ClockParts now = SplitClockText(Label6->text());
    Text5->setText(fMyPath() + now.hour + QStringLiteral(".jpg"));
    sSendFile = Text5->text().right(6);
}

void FTPform::Command4_Click()
{
    if (!hourlyTimeInRange(Text8->text(), Text6->text())) {
        eventlog::warning(QStringLiteral("hourly: not armed: minute=%1 second=%2 out of range")
                              .arg(eventlog::quote(Text8->text()), eventlog::quote(Text6->text())));
        m_platform.showMessage(kResetMinuteSecond);
        return;
    }
    Timer7->setEnabled(true);
    Timer6->setEnabled(true);
    Timer5->setEnabled(true);
    Timer4->setEnabled(true);
    if (Text6->text().size() != 2 || Text8->text().size() != 2) {
        Label13->setText(QString());
        Timer4->setEnabled(false);
        m_hourly.stopped(QStringLiteral("the hourly upload was armed again with a minute or second of other than "
                                        "two digits, which stops it"));
        eventlog::warning(QStringLiteral("hourly: not armed: minute=%1 second=%2 not two digits each")
                              .arg(eventlog::quote(Text8->text()), eventlog::quote(Text6->text())));
        m_platform.showMessage(kMinuteSecondTwoDigits);
        return;
    }
    Timer7->setInterval(kStageInterval);
    Timer6->setInterval(kStageInterval);
    Timer5->setInterval(kStageInterval);
    Timer4->setInterval(kStageInterval);
    RefreshSendFile();
    eventlog::info(QStringLiteral("hourly: armed for minute %1 second %2 of every hour, to %3")
                       .arg(Text8->text(), Text6->text(), eventlog::quote(text4->text())));
}

void FTPform::armHourlyUpload()
{
    dispatch(&FTPform::Command4_Click, "Command4_Click");
}

void FTPform::Command6_Click()
{
    Timer4->setEnabled(false);
    Timer7->setEnabled(false);
    Label13->setText(QString());
    eventlog::info(QStringLiteral("hourly: stopped (the hourly connect and disconnect go on)"));
    m_hourly.stopped(QStringLiteral("the hourly upload was stopped"));
}

void FTPform::Timer7_Timer()
{
    RefreshSendFile();
}
