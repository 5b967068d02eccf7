// Opening and closing the interactive FTP session.
#include "app/ftpForm.h"
#include "app/platform.h"

void FTPform::cmdConnect_Click()
{
    if (bConnected || hInternet == 0)
        return;
    const QString server = text1->text();
    const QString user = text2->text();
    const QString password = text3->text();
    if (server.isEmpty() || user.isEmpty() || password.isEmpty()) {
        m_platform.showMessage(QStringLiteral("サ－バ－名、ID、パスワードを入れてください！"));
        return;
    }
    ConnectSession(server, user, password);
}

bool FTPform::ConnectSession(const QString& server, const QString& user, const QString& password)
{
    const std::int32_t flags = chkPassive->isChecked() ? INTERNET_FLAG_PASSIVE : 0;
    hFtp = InternetConnectA(hInternet, server.toLocal8Bit().constData(), 0, user.toLocal8Bit().constData(),
                            password.toLocal8Bit().constData(), INTERNET_SERVICE_FTP, flags, 0);
    if (hFtp == 0) {
        const std::uint32_t error = GetLastError();
        bConnected = false;
        ErrorOut(error, QStringLiteral("InternetConnect"));
        return false;
    }
    bConnected = true;
    EnableUI(true);
    ShowListing(server);
    ListRemoteDir(QString());
    if (!colNames.isEmpty())
        ShowListing(server);
    return true;
}

void FTPform::cmdDisconnect_Click()
{
    Label13->setText(QString());
    Timer4->setEnabled(false);
    EndSession();
}

void FTPform::EndSession()
{
    // The Internet handle stays open, so the operator can connect again.
    if (hFtp != 0)
        InternetCloseHandle(hFtp);
    hFtp = 0;
    ClearListing();
    RemoveServerNode();
    bConnected = false;
    EnableUI(true);
}

void FTPform::CloseSession()
{
    if (hFtp != 0)
        InternetCloseHandle(hFtp);
    if (hInternet != 0)
        InternetCloseHandle(hInternet);
    hFtp = 0;
    hInternet = 0;
    if (bConnected)
        RemoveServerNode();
    bConnected = false;
    ClearFields();
    EnableUI(false);
}

void FTPform::RemoveServerNode()
{
    // The server box stays editable while connected; if it was changed since, no node
    // has its text as key. The session is closed all the same, so the one top-level
    // node (the server) goes, rather than leaving the window half connected.
    if (TreeView1->contains(text1->text())) {
        TreeView1->remove(text1->text());
        return;
    }
    while (QTreeWidgetItem* top = TreeView1->topLevelItem(0))
        TreeView1->removeNode(top);
}

void FTPform::ClearFields()
{
    text1->setText(QString());
    text2->setText(QString());
    text3->setText(QString());
    txtProxy->setText(QString());
    ClearListing();
}

void FTPform::ClearListing()
{
    colNames.clear();
    colAttrs.clear();
}
