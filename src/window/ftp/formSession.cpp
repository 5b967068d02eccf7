// Opening and closing the interactive FTP session.
#include "core/base/eventLog.h"
#include "window/app/ftpForm.h"
#include "window/app/messages.h"
#include "window/app/platform.h"
#include "window/ftp/keyedTree.h"
#include "window/scheduler/formTimer.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

Task<> FTPform::cmdConnect_Click()
{
    if (m_session.connected() || !m_session.internetOpen())
        co_return;
    const QString server = text1->text();
    const QString user = text2->text();
    const QString password = text3->text();
    if (server.isEmpty() || user.isEmpty() || password.isEmpty()) {
        m_platform.showMessage(kEnterServerUserPassword);
        co_return;
    }
    const bool trusted = co_await hostKeyTrusted(server);
    if (!trusted || m_session.connected())
        co_return;
    const std::optional<FtpFailure> failure = co_await ConnectSession(server, user, password);
    // Refused for a certificate or host key the operator may trust now: the one box this
    // Connect shows. The hourly connect may have come in while it was open.
    if (failure && failure->offered && trustOffered(*failure->offered) && !m_session.connected())
        co_await ConnectSession(server, user, password);
}

Task<std::optional<FtpFailure>> FTPform::ConnectSession(QString server, QString user, QString password)
{
    const std::optional<FtpFailure> failure =
        co_await m_session.connect(server, user, password, chkPassive->isChecked());
    if (failure) {
        ErrorOut(*failure);
        co_return failure;
    }
    co_await showNewSession(server);
    co_return std::nullopt;
}

Task<> FTPform::showNewSession(QString server)
{
    EnableUI(true);
    ShowListing(server, server);
    co_await ListRemoteDir(QString());
    if (!m_session.listing().isEmpty())
        ShowListing(server, server);
}

Task<> FTPform::cmdDisconnect_Click()
{
    Label13->setText(QString());
    if (Timer4->running())
        eventlog::info(QStringLiteral("hourly: stopped by Disconnect"));
    Timer4->setEnabled(false);
    m_hourly.stopped(QStringLiteral("the hourly upload was stopped by Disconnect"));
    co_await endSession();
}

Task<> FTPform::endSession()
{
    // The Internet handle stays open, so the operator can connect again.
    const QString server = text1->text();
    co_await m_session.disconnect();
    removeServerNode(server);
    EnableUI(true);
}

void FTPform::CloseSession()
{
    const bool wasConnected = m_session.connected();
    stopNetwork(SessionThread::Ending::CloseAll, QStringLiteral("the window was closed"));
    if (wasConnected)
        removeServerNode(text1->text());
    ClearFields();
    EnableUI(false);
}

void FTPform::stopNetwork(SessionThread::Ending how, const QString& why)
{
    m_session.end(how, why);
    // Nothing waits for a call any more, and none is made after this.
    m_waitingClicks.clear();
    m_hourly.ending(QStringLiteral("the program ends"));
    // The messages to the owner that are still on their way are not waited for.
    if (m_reports)
        m_reports->end();
    showBusy();
}

void FTPform::removeServerNode(const QString& server)
{
    // The server box stays editable while connected; if it was changed since, no node
    // has its text as key. The session is closed all the same, so the one top-level
    // node (the server) goes, rather than leaving the window half connected.
    if (TreeView1->contains(server)) {
        TreeView1->remove(server);
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
    m_session.clearListing();
}
