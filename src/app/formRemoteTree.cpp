// The server's folders in the tree: listing a folder, showing a listing, changing the
// current folder, and opening or closing a folder node on a click.
#include "app/ftpForm.h"

#include "app/keyedTree.h"
#include "app/platform.h"
#include "scheduler/hourlyRules.h"

#include <QLineEdit>

void FTPform::ListRemoteDir(const QString& path)
{
    m_session.clearListing();
    if (!path.isEmpty())
        ChangeRemoteDir(path);
    const ListResult result = m_session.list();
    if (result.empty)
        m_platform.showMessage(QStringLiteral("このディレクトリは空です！"));
    else if (result.failure)
        ErrorOut(*result.failure);
}

void FTPform::ShowListing(const QString& key)
{
    const QList<RemoteEntry>& listing = m_session.listing();
    if (text1->text() == key && listing.isEmpty()) {
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

bool FTPform::ChangeRemoteDir(const QString& path)
{
    if (path.isEmpty()) {
        m_platform.showMessage(QStringLiteral("変更するディレクトリを選択"));
        return true;
    }
    if (!m_session.changeFolder(FolderChangeTarget(text1->text(), path))) {
        m_platform.showMessage(QStringLiteral("転送先が間違ってます"));
        return false;
    }
    return true;
}

void FTPform::TreeView1_MouseUp()
{
    QTreeWidgetItem* node = TreeView1->selectedNode();
    if (!m_session.connected() || node == nullptr) {
        m_platform.showMessage(QStringLiteral("実行不能"));
        return;
    }
    const QString image = KeyedTree::imageKey(node);
    if (image == QLatin1String("closed")) {
        TreeView1->setImageKey(node, QStringLiteral("open"));
        const QString text = KeyedTree::text(node);
        ListRemoteDir(text);
        ShowListing(text);
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
