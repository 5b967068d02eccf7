// The three stages of an hourly cycle: connect ten seconds before the set second,
// upload at it, disconnect ten seconds after. Each stage reads the minute and second
// boxes on every tick and asks the scheduler's rules whether its time has come.
#include "app/ftpForm.h"

#include "app/platform.h"
#include "base/eventLog.h"
#include "scheduler/hourlyRules.h"

#include <QLabel>
#include <QLineEdit>

namespace {
const QString kSettingsWrong = QStringLiteral("設定が間違っているようです");
}

ClockParts FTPform::stampClock()
{
    Label6->setText(ClockNow());
    return SplitClockText(Label6->text());
}

void FTPform::Timer5_Timer()
{
    try {
        const QString minute = Text8->text();
        const QString second = Text6->text();
        const ClockParts now = stampClock();
        if (!ConnectStageDue(minute, second, now) || m_session.connected() || !m_session.internetOpen())
            return;
        const QString server = text1->text();
        if (server.isEmpty()) {
            m_platform.showMessage(QStringLiteral("サ－バ－名を入れてください！"));
            return;
        }
        ConnectSession(server, text2->text(), text3->text());
    } catch (const std::exception& fault) {
        EventLog::fault("Timer5_Timer", fault, QStringLiteral("shown: ") + kSettingsWrong);
        m_platform.showMessage(kSettingsWrong);
    }
}

void FTPform::Timer4_Timer()
{
    try {
        Label13->setText(QStringLiteral("転送タイマ－作動中（１時間に１度転送してます）"));
        const QString minute = Text8->text();
        const QString second = Text6->text();
        const ClockParts now = stampClock();
        if (!UploadStageDue(minute, second, now))
            return;
        if (sSendFile.isEmpty()) {
            m_platform.showMessage(QStringLiteral("アップロ－ドするファイルを選択してください！"));
            return;
        }
        QString folder = RemoteFolderOf(text1->text(), text4->text());
        if (folder.isEmpty())
            folder = QStringLiteral("\\");
        // The upload goes ahead into the current folder even when the change failed.
        ChangeRemoteDir(folder);
        if (const auto failure = m_session.putFile(Text5->text(), sSendFile, lTransferType))
            ErrorOut(*failure);
    } catch (const std::exception& fault) {
        EventLog::fault("Timer4_Timer", fault, QStringLiteral("shown: ") + kSettingsWrong);
        m_platform.showMessage(kSettingsWrong);
    }
}

void FTPform::Timer6_Timer()
{
    try {
        const QString minute = Text8->text();
        const QString second = Text6->text();
        const ClockParts now = stampClock();
        if (!DisconnectStageDue(minute, second, now))
            return;
        EndSession();
    } catch (const std::exception& fault) {
        // The disconnect stage ends its tick without a word to the operator.
        EventLog::fault("Timer6_Timer", fault);
    }
}
