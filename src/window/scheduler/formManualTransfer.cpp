// Sending the hour's file at once over the open session.
#include "core/base/eventLog.h"
#include "core/scheduler/hourlyRules.h"
#include "core/scheduler/sendFile.h"
#include "window/app/ftpForm.h"
#include "window/app/messages.h"
#include "window/app/platform.h"
#include "window/local/fileListBox.h"

#include <QDir>
#include <QLineEdit>

Task<> FTPform::Command5_Click()
{
    sSendFile = Text5->text().right(6);
    // Only a file of exactly that name in the program folder may be sent.
    if (!programFolderHolds(fMyPath(), sSendFile)) {
        m_platform.showMessage(kNoFileOrWrongDestination);
        co_return;
    }
    if (!m_session.connected()) {
        m_platform.showMessage(kNotConnected);
        co_return;
    }
    File1->setFileName(Text5->text());
    const QString remoteName = File1->fileName();
    if (remoteName.isEmpty()) {
        m_platform.showMessage(kChooseSourceAndDestination);
        co_return;
    }
    QString destination = remoteFolderOf(text1->text(), text4->text());
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
        m_platform.showMessage(kDestinationWrong);
    else
        m_platform.showMessage(kTransferred);
}
