// The three stages of an hourly cycle: connect ten seconds before the set second,
// upload at it, disconnect ten seconds after. Each stage reads the minute and second
// boxes on every tick and asks the scheduler's rules whether its time has come.
//
// A call of an earlier handler may still be under way when a stage comes due (a slow
// server). A window blocked in that call could not have started a second connect or
// another upload then, so those stages let their tick pass; the disconnect runs as soon
// as the call is over, so no hour keeps its session.
#include "app/ftpForm.h"

#include "app/platform.h"
#include "base/eventLog.h"
#include "scheduler/hourlyRules.h"

#include <QLabel>
#include <QLineEdit>

namespace {
const QString kSettingsWrong = QStringLiteral("設定が間違っているようです");

void logPassedOver(const char* stage)
{
    EventLog::info(QStringLiteral("hourly: the %1 stage is due while a call is under way; it lets this tick pass")
                       .arg(QLatin1String(stage)));
}
} // namespace

ClockParts FTPform::stampClock()
{
    Label6->setText(ClockNow());
    return SplitClockText(Label6->text());
}

Task<> FTPform::Timer5_Timer()
{
    try {
        const QString minute = Text8->text();
        const QString second = Text6->text();
        const ClockParts now = stampClock();
        if (!ConnectStageDue(minute, second, now) || m_session.connected() || !m_session.internetOpen())
            co_return;
        if (m_session.busy()) {
            logPassedOver("connect");
            co_return;
        }
        const QString server = text1->text();
        if (server.isEmpty()) {
            m_platform.showMessage(QStringLiteral("サ－バ－名を入れてください！"));
            co_return;
        }
        co_await ConnectSession(server, text2->text(), text3->text());
    } catch (const std::exception& fault) {
        EventLog::fault("Timer5_Timer", fault, QStringLiteral("shown: ") + kSettingsWrong);
        m_platform.showMessage(kSettingsWrong);
    }
}

Task<> FTPform::Timer4_Timer()
{
    try {
        Label13->setText(QStringLiteral("転送タイマ－作動中（１時間に１度転送してます）"));
        const QString minute = Text8->text();
        const QString second = Text6->text();
        const ClockParts now = stampClock();
        if (!UploadStageDue(minute, second, now))
            co_return;
        if (m_session.busy()) {
            logPassedOver("upload");
            co_return;
        }
        if (sSendFile.isEmpty()) {
            m_platform.showMessage(QStringLiteral("アップロ－ドするファイルを選択してください！"));
            co_return;
        }
        QString folder = RemoteFolderOf(text1->text(), text4->text());
        if (folder.isEmpty())
            folder = QStringLiteral("\\");
        // The upload goes ahead into the current folder even when the change failed.
        co_await ChangeRemoteDir(folder);
        const std::optional<FtpFailure> failure = co_await m_session.putFile(Text5->text(), sSendFile, lTransferType);
        if (failure)
            ErrorOut(*failure);
    } catch (const std::exception& fault) {
        EventLog::fault("Timer4_Timer", fault, QStringLiteral("shown: ") + kSettingsWrong);
        m_platform.showMessage(kSettingsWrong);
    }
}

Task<> FTPform::Timer6_Timer()
{
    try {
        const QString minute = Text8->text();
        const QString second = Text6->text();
        const ClockParts now = stampClock();
        if (!DisconnectStageDue(minute, second, now)) {
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
                EventLog::info(QStringLiteral("hourly: the disconnect stage is due while a call is under way; it "
                                              "runs as soon as the call is over"));
            }
            co_return;
        }
        m_disconnecting = true;
        co_await EndSession();
        m_disconnecting = false;
    } catch (const std::exception& fault) {
        // The disconnect stage ends its tick without a word to the operator.
        m_disconnecting = false;
        EventLog::fault("Timer6_Timer", fault);
    }
}

Task<> FTPform::lateDisconnect()
{
    const double late = m_platform.monotonicSeconds() - *m_lateDisconnect;
    m_lateDisconnect.reset();
    EventLog::info(QStringLiteral("hourly: the disconnect runs %1 s late, after the call that was under way")
                       .arg(late, 0, 'f', 1));
    m_disconnecting = true;
    try {
        co_await EndSession();
    } catch (const std::exception& fault) {
        EventLog::fault("Timer6_Timer", fault);
    }
    m_disconnecting = false;
}
