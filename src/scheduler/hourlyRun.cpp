// The three stages of an hourly cycle: connect ten seconds before the set second,
// upload at it, disconnect ten seconds after. Each stage compares the clock with the
// minute and second boxes on its own, in its own way, on every tick.
#include "app/ftpForm.h"
#include "app/platform.h"
#include "app/runtimeFault.h"
#include "scheduler/clockText.h"

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
        if (!(minute == now.minute && NumericValue(second) - 10 == NumericValue(now.second) && !bConnected &&
              hInternet != 0))
            return;
        const QString server = text1->text();
        if (server.isEmpty()) {
            m_platform.showMessage(QStringLiteral("サ－バ－名を入れてください！"));
            return;
        }
        ConnectSession(server, text2->text(), text3->text());
    } catch (const std::exception&) {
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
        if (minute != now.minute || second != now.second)
            return;
        if (sSendFile.isEmpty()) {
            m_platform.showMessage(QStringLiteral("アップロ－ドするファイルを選択してください！"));
            return;
        }
        QString folder = RemoteFolderOf(text4->text());
        if (folder.isEmpty())
            folder = QStringLiteral("\\");
        ChangeRemoteDir(folder);
        if (!FtpPutFileA(hFtp, Text5->text().toLocal8Bit().constData(), sSendFile.toLocal8Bit().constData(),
                         lTransferType, 0)) {
            const std::uint32_t error = GetLastError();
            ErrorOut(error, QStringLiteral("FtpPutFile"));
        }
    } catch (const std::exception&) {
        m_platform.showMessage(kSettingsWrong);
    }
}

void FTPform::Timer6_Timer()
{
    try {
        const QString minute = Text8->text();
        const QString second = Text6->text();
        const ClockParts now = stampClock();
        if (NumericValue(minute) != NumericValue(now.minute) || StrictNumber(second) + 10 != NumericValue(now.second))
            return;
        EndSession();
    } catch (const std::exception&) {
        // The disconnect stage ends its tick silently.
    }
}

QString FTPform::RemoteFolderOf(const QString& destination)
{
    // The destination box holds the server name followed by the folder; a box shorter
    // than the server name is a settings fault.
    const qsizetype n = text1->text().size();
    if (destination.size() < n)
        throw RuntimeFault("destination shorter than the server name");
    return destination.mid(n);
}
