// The server's folders in the tree: listing a folder, showing a listing, changing the
// current folder, and opening or closing a folder node on a click.
#include "app/ftpForm.h"
#include "app/platform.h"

#include <cstring>

namespace {

QString recordName(const WIN32_FIND_DATA& record)
{
    return QString::fromLocal8Bit(record.cFileName, static_cast<qsizetype>(strnlen(record.cFileName, MAX_PATH)));
}

} // namespace

void FTPform::ListRemoteDir(const QString& path)
{
    ClearListing();
    if (!path.isEmpty())
        ChangeRemoteDir(path);

    WIN32_FIND_DATA record;
    std::memset(record.cFileName, 0, sizeof record.cFileName);
    const HINTERNET hFind = FtpFindFirstFileA(hFtp, "*.*", &record, 0, 0);
    const std::uint32_t firstError = GetLastError();
    if (hFind == 0) {
        if (firstError == ERROR_NO_MORE_FILES)
            m_platform.showMessage(QStringLiteral("このディレクトリは空です！"));
        else
            ErrorOut(firstError, QStringLiteral("FtpFindFirstFile"));
        return;
    }
    colAttrs.append(record.dwFileAttributes);
    colNames.append(recordName(record));
    for (;;) {
        std::memset(record.cFileName, 0, sizeof record.cFileName);
        if (!InternetFindNextFileA(hFind, &record))
            break;
        colAttrs.append(record.dwFileAttributes);
        colNames.append(recordName(record));
    }
    const std::uint32_t nextError = GetLastError();
    if (nextError != ERROR_NO_MORE_FILES)
        ErrorOut(nextError, QStringLiteral("InternetFindNextFile"));
    InternetCloseHandle(hFind);
}

void FTPform::ShowListing(const QString& key)
{
    if (text1->text() == key && colNames.isEmpty()) {
        TreeView1->add(QString(), 0, key, key, QStringLiteral("root"));
        return;
    }
    QTreeWidgetItem* last = nullptr;
    for (qsizetype i = 0; i < colAttrs.size(); ++i) {
        const QString childKey = key + QLatin1Char('/') + colNames.at(i);
        // Some servers name an entry twice; it is shown once.
        if (TreeView1->contains(childKey))
            continue;
        const QString image = colAttrs.at(i) == FILE_ATTRIBUTE_DIRECTORY ? QStringLiteral("closed") : QStringLiteral("leaf");
        last = TreeView1->add(key, 4, childKey, childKey, image);
    }
    if (last)
        TreeView1->ensureVisible(last);
}

void FTPform::ChangeRemoteDir(const QString& path)
{
    if (path.isEmpty()) {
        m_platform.showMessage(QStringLiteral("変更するディレクトリを選択"));
        return;
    }
    const QString server = text1->text();
    QString target = path.contains(server) ? path.mid(server.size()) : path;
    if (target.isEmpty())
        target = QStringLiteral("/");
    if (!FtpSetCurrentDirectoryA(hFtp, target.toLocal8Bit().constData())) {
        m_platform.showMessage(QStringLiteral("転送先が間違ってます"));
        bCdFailed = 1;
    }
}

void FTPform::TreeView1_MouseUp()
{
    QTreeWidgetItem* node = TreeView1->selectedNode();
    if (!bConnected || node == nullptr) {
        m_platform.showMessage(QStringLiteral("実行不能"));
        return;
    }
    const QString image = TreeView1->imageKey(node);
    if (image == QLatin1String("closed")) {
        TreeView1->setImageKey(node, QStringLiteral("open"));
        const QString text = TreeView1->text(node);
        ListRemoteDir(text);
        ShowListing(text);
    } else if (image == QLatin1String("open")) {
        TreeView1->setImageKey(node, QStringLiteral("closed"));
        QTreeWidgetItem* child = TreeView1->firstChild(node);
        while (child) {
            QTreeWidgetItem* next = TreeView1->nextSibling(child);
            TreeView1->removeNode(child);
            child = next;
        }
    }
}
