#include "window/local/fileListBox.h"

#include "core/base/runtimeFault.h"
#include "core/local/volumes.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace {

// QDir reads "*.*" literally, as "has a dot"; the old list read a trailing ".*" as
// "any extension or none", so every such wildcard is also offered without it.
QStringList nameFilters(const QString& pattern)
{
    QStringList filters;
    for (QString part : pattern.split(u';', Qt::SkipEmptyParts)) {
        part = part.trimmed();
        if (part.isEmpty())
            continue;
        filters.append(part);
        if (part.endsWith(QLatin1String(".*")) && part.size() > 2)
            filters.append(part.chopped(2));
    }
    if (filters.isEmpty())
        filters.append(QStringLiteral("*"));
    filters.removeDuplicates();
    return filters;
}

} // namespace

FileListBox::FileListBox(QWidget* parent) : QListWidget(parent), m_path(local::cleanFolderPath(QDir::currentPath()))
{
    // Folders of tens of thousands of pictures are normal here; rows of one height
    // let the view skip measuring each of them.
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    fill();
}

void FileListBox::setPath(const QString& path)
{
    if (moveTo(path))
        emit pathChanged();
}

bool FileListBox::moveTo(const QString& path)
{
    const QString clean = local::cleanFolderPath(path);
    const QFileInfo info(clean);
    if (path.isEmpty() || !info.isDir() || !info.isReadable())
        throw RuntimeFault("folder not found or not readable: " + path.toStdString());
    const bool changed = clean != m_path;
    m_path = clean;
    fill();
    return changed;
}

void FileListBox::setPattern(const QString& pattern)
{
    if (pattern == m_pattern)
        return;
    m_pattern = pattern;
    fill();
    emit patternChanged();
}

QString FileListBox::fileName() const
{
    const QList<QListWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? QString() : selected.first()->text();
}

void FileListBox::setFileName(const QString& name)
{
    const QString native = QDir::toNativeSeparators(name);
    if (!native.contains(QDir::separator())) {
        selectName(name);
        return;
    }
    const QFileInfo file(QDir::fromNativeSeparators(name));
    // Already showing that folder with the file in it: select it without reading a
    // folder of thousands of images again on every send.
    if (local::cleanFolderPath(file.absolutePath()) == m_path && m_names.contains(file.fileName()) && file.isFile()) {
        selectName(file.fileName());
        return;
    }
    const bool changed = moveTo(file.absolutePath());
    selectName(file.fileName());
    if (changed)
        emit pathChanged();
}

void FileListBox::refresh()
{
    const QString selected = fileName();
    fill();
    selectName(selected);
}

void FileListBox::fill()
{
    // Names only and unsorted: QDir then learns what it needs for the filters from the
    // directory read itself (plus a look at link targets), and nothing more per file.
    QDir dir(m_path);
    dir.setNameFilters(nameFilters(m_pattern));
    dir.setFilter(QDir::Files | QDir::NoDotAndDotDot);
    dir.setSorting(QDir::Unsorted);
    QStringList names = dir.entryList();
    // Case decides only between names that are otherwise equal, so the order is stable.
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    m_names = names;

    setUpdatesEnabled(false);
    clear();
    addItems(m_names);
    setUpdatesEnabled(true);
}

void FileListBox::selectName(const QString& name)
{
    const qsizetype row = name.isEmpty() ? -1 : m_names.indexOf(name);
    if (row < 0) {
        clearSelection();
        setCurrentItem(nullptr);
        return;
    }
    setCurrentRow(int(row));
    scrollToItem(item(int(row)));
}
