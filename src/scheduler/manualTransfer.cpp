// Sending the hour's file at once over the open session.
#include "app/ftpForm.h"
#include "app/platform.h"
#include "scheduler/sendFile.h"

#include <QDir>

void FTPform::Command5_Click()
{
    try {
        transferManually();
    } catch (const std::exception&) {
        m_platform.showMessage(QStringLiteral("FTP.txt ファイルがありません"));
    }
}

void FTPform::transferManually()
{
    bCdFailed = 0;
    sSendFile = Text5->text().right(6);
    // Only a file of exactly that name in the program folder may be sent.
    if (!ProgramFolderHolds(fMyPath(), sSendFile)) {
        m_platform.showMessage(QStringLiteral("転送ファイルが無いか転送先が間違っているようです"));
        return;
    }
    if (!bConnected) {
        m_platform.showMessage(QStringLiteral("接続されていません"));
        return;
    }
    File1->setFileName(Text5->text());
    const QString remoteName = File1->fileName();
    if (remoteName.isEmpty()) {
        m_platform.showMessage(QStringLiteral("送り元、送り先のディレクトリを指定して下さい"));
        return;
    }
    QString destination = RemoteFolderOf(text4->text());
    QString localPath = File1->path();
    if (!localPath.endsWith(QDir::separator()))
        localPath += QDir::separator();
    localPath += remoteName;
    if (destination.isEmpty())
        destination = QStringLiteral("\\");
    ChangeRemoteDir(destination);
    if (bCdFailed == 1)
        return;
    if (!FtpPutFileA(hFtp, localPath.toLocal8Bit().constData(), remoteName.toLocal8Bit().constData(), lTransferType,
                     0))
        m_platform.showMessage(QStringLiteral("転送先が間違っているようです"));
    else
        m_platform.showMessage(QStringLiteral("転送しました"));
}
