// The server's folders in the tree: listing a folder, showing a listing, changing the
// current folder, and opening or closing a folder node on a click.
#include "core/scheduler/hourlyRules.h"
#include "window/app/ftpForm.h"
#include "window/app/messages.h"
#include "window/app/platform.h"
#include "window/ftp/keyedTree.h"

#include <QLineEdit>

Task<> FTPform::ListRemoteDir(QString path)
{
    m_session.clearListing();
    if (!path.isEmpty())
        co_await ChangeRemoteDir(path);
    const ListResult result = co_await m_session.list();
    if (result.empty)
        m_platform.showMessage(kFolderEmpty);
    else if (result.failure)
        ErrorOut(*result.failure);
}

void FTPform::ShowListing(const QString& key, const QString& server)
{
    const QList<RemoteEntry>& listing = m_session.listing();
    if (server == key && listing.isEmpty()) {
        TreeView1->add(QString(), 0, key, key, QStringLiteral("root"));
        return;
    }
    QTreeWidgetItem* last = nullptr;
    for (const RemoteEntry& entry : listing) {
        const QString childKey = key + QLatin1Char('/') + entry.name;
        // Some servers name an entry twice; it is shown once.
        if (TreeView1->contains(childKey))
            continue;
        const QString image = entry.isFolder ? QStringLiteral("closed") : QStringLiteral("leaf");
        last = TreeView1->add(key, KeyedTree::Child, childKey, childKey, image);
    }
    if (last)
        TreeView1->ensureVisible(last);
}

Task<bool> FTPform::ChangeRemoteDir(QString path)
{
    if (path.isEmpty()) {
        m_platform.showMessage(kChooseFolder);
        co_return true;
    }
    const std::optional<FtpFailure> failure = co_await m_session.changeFolder(folderChangeTarget(text1->text(), path));
    if (failure) {
        m_platform.showMessage(kFolderWrong);
        co_return false;
    }
    co_return true;
}

Task<> FTPform::TreeView1_MouseUp()
{
    QTreeWidgetItem* node = TreeView1->selectedNode();
    if (!m_session.connected() || node == nullptr) {
        m_platform.showMessage(kCannotDo);
        co_return;
    }
    const QString image = KeyedTree::imageKey(node);
    if (image == QLatin1String("closed")) {
        TreeView1->setImageKey(node, QStringLiteral("open"));
        // The node itself may be gone by the time the listing is in (a disconnect
        // meanwhile); its key still names where the entries go, if anywhere.
        const QString text = KeyedTree::text(node);
        const QString server = text1->text();
        co_await ListRemoteDir(text);
        ShowListing(text, server);
    } else if (image == QLatin1String("open")) {
        TreeView1->setImageKey(node, QStringLiteral("closed"));
        QTreeWidgetItem* child = KeyedTree::firstChild(node);
        while (child) {
            QTreeWidgetItem* next = TreeView1->nextSibling(child);
            TreeView1->removeNode(child);
            child = next;
        }
    }
}
