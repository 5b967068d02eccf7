#include "window/local/dirListBox.h"

#include "core/base/runtimeFault.h"
#include "core/local/volumes.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QStyle>
#include <QTreeWidgetItemIterator>

#include <algorithm>

namespace {

constexpr int kPathRole = Qt::UserRole;

// Root first: "/a/b" gives "/", "/a", "/a/b".
QStringList chainTo(const QString& cleanPath)
{
    // By text alone: the ancestors of a folder one may enter are there even when some
    // of them cannot be listed.
    QStringList chain;
    QString folder = QDir::fromNativeSeparators(cleanPath);
    for (;;) {
        chain.prepend(QDir::toNativeSeparators(folder));
        const QString parent = QFileInfo(folder).path();
        if (parent == folder)
            return chain;
        folder = parent;
    }
}

} // namespace

DirListBox::DirListBox(QWidget* parent) : QTreeWidget(parent), m_path(local::cleanFolderPath(QDir::currentPath()))
{
    setHeaderHidden(true);
    setColumnCount(1);
    // A fixed chain, not a tree to fold: no expanders, nothing collapses.
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setIndentation(8);
    setUniformRowHeights(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) { open(item); });
    fill();
}

void DirListBox::setPath(const QString& path)
{
    if (moveTo(path))
        emit pathChanged();
}

bool DirListBox::moveTo(const QString& path)
{
    const QString clean = local::cleanFolderPath(path);
    const QFileInfo info(clean);
    if (path.isEmpty() || !info.isDir() || !info.isReadable())
        throw RuntimeFault("folder not found or not readable: " + path.toStdString());
    if (m_ready && !m_ready(clean))
        throw RuntimeFault("drive not ready: " + path.toStdString());

    const bool changed = clean != m_path;
    m_path = clean;
    fill();
    return changed;
}

void DirListBox::refresh()
{
    fill();
}

QStringList DirListBox::shownFolders() const
{
    QStringList folders;
    for (QTreeWidgetItemIterator it(const_cast<DirListBox*>(this)); *it; ++it)
        folders.append((*it)->data(0, kPathRole).toString());
    return folders;
}

void DirListBox::fill()
{
    QStringList subFolders = QDir(m_path).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Unsorted);
    // Case decides only between names that are otherwise equal, so the order is stable.
    std::sort(subFolders.begin(), subFolders.end(), [](const QString& a, const QString& b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });

    const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);

    setUpdatesEnabled(false);
    clear();
    QTreeWidgetItem* parent = nullptr;
    for (const QString& folder : chainTo(m_path)) {
        const QString name = QFileInfo(folder).fileName();
        auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(this);
        item->setText(0, name.isEmpty() ? folder : name);
        item->setData(0, kPathRole, folder);
        item->setIcon(0, openIcon);
        parent = item;
    }
    QTreeWidgetItem* current = parent;
    const QString prefix = m_path.endsWith(QDir::separator()) ? m_path : m_path + QDir::separator();
    QList<QTreeWidgetItem*> children;
    children.reserve(subFolders.size());
    for (const QString& name : subFolders) {
        auto* item = new QTreeWidgetItem(QStringList{name});
        item->setData(0, kPathRole, prefix + name);
        item->setIcon(0, closedIcon);
        children.append(item);
    }
    current->addChildren(children);
    expandAll();
    setCurrentItem(current);
    setUpdatesEnabled(true);
}

void DirListBox::open(QTreeWidgetItem* item)
{
    if (!item)
        return;
    // An operator's double-click has nobody above it to catch a fault: a folder that
    // went away or cannot be entered just stays unopened. Only our own refusal is
    // caught; what the owner's handler throws on pathChanged is the owner's to handle.
    bool changed = false;
    try {
        changed = moveTo(item->data(0, kPathRole).toString());
    } catch (const RuntimeFault&) {
        QApplication::beep();
        return;
    }
    if (changed)
        emit pathChanged();
}
