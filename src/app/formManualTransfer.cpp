// Sending the hour's file at once over the open session.
#include "app/ftpForm.h"

#include "app/platform.h"
#include "base/eventLog.h"
#include "local/fileListBox.h"
#include "scheduler/hourlyRules.h"
#include "scheduler/sendFile.h"

#include <QDir>
#include <QLineEdit>

Task<> FTPform::Command5_Click()
{
    try {
        co_await transferManually();
    } catch (const std::exception& fault) {
        EventLog::fault("Command5_Click", fault, QStringLiteral("shown: FTP.txt ファイルがありません"));
        m_platform.showMessage(QStringLiteral("FTP.txt ファイルがありません"));
    }
}

Task<> FTPform::transferManually()
{
    sSendFile = Text5->text().right(6);
    // Only a file of exactly that name in the program folder may be sent.
    if (!ProgramFolderHolds(fMyPath(), sSendFile)) {
        m_platform.showMessage(QStringLiteral("転送ファイルが無いか転送先が間違っているようです"));
        co_return;
    }
    if (!m_session.connected()) {
        m_platform.showMessage(QStringLiteral("接続されていません"));
        co_return;
    }
    File1->setFileName(Text5->text());
    const QString remoteName = File1->fileName();
    if (remoteName.isEmpty()) {
        m_platform.showMessage(QStringLiteral("送り元、送り先のディレクトリを指定して下さい"));
        co_return;
    }
    QString destination = RemoteFolderOf(text1->text(), text4->text());
    QString localPath = File1->path();
    if (!localPath.endsWith(QDir::separator()))
        localPath += QDir::separator();
    localPath += remoteName;
    if (destination.isEmpty())
        destination = QStringLiteral("\\");
    const bool changed = co_await ChangeRemoteDir(destination);
    if (!changed)
        co_return;
    const std::optional<FtpFailure> failure = co_await m_session.putFile(localPath, remoteName, lTransferType);
    if (failure)
        m_platform.showMessage(QStringLiteral("転送先が間違っているようです"));
    else
        m_platform.showMessage(QStringLiteral("転送しました"));
}
