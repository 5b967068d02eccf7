#include "window/local/driveListBox.h"

#include "core/base/runtimeFault.h"

#include <QDir>

#include <algorithm>

DriveListBox::DriveListBox(QWidget* parent) : QComboBox(parent), m_source(&local::mountedVolumes)
{
    connect(this, &QComboBox::currentIndexChanged, this, &DriveListBox::onIndexChanged);
    fill();
    // Starts on the drive of the current folder, like the folder and file lists do.
    const qsizetype i = local::volumeHolding(m_volumes, local::cleanFolderPath(QDir::currentPath()));
    select(m_volumes[i < 0 ? 0 : i].root);
}

QString DriveListBox::fallbackDrive()
{
    return local::cleanFolderPath(QDir::rootPath());
}

void DriveListBox::setDrive(const QString& drive)
{
    const qsizetype i = local::volumeHolding(m_volumes, local::cleanFolderPath(drive));
    if (drive.isEmpty() || i < 0)
        throw RuntimeFault("no such drive: " + drive.toStdString());
    const QString root = m_volumes[i].root;
    if (root == m_drive)
        return;
    select(root);
    emit driveChanged();
}

void DriveListBox::setVolumeSource(VolumeSource source)
{
    m_source = std::move(source);
    refresh();
}

void DriveListBox::refresh()
{
    fill();
    if (std::any_of(m_volumes.cbegin(), m_volumes.cend(), [&](const Volume& v) { return v.root == m_drive; })) {
        select(m_drive);
        return;
    }
    select(fallbackDrive());
    emit driveChanged();
}

bool DriveListBox::isReady(const QString& path) const
{
    const qsizetype i = local::volumeHolding(m_volumes, local::cleanFolderPath(path));
    return i < 0 || m_volumes[i].ready;
}

void DriveListBox::showPopup()
{
    refresh();
    QComboBox::showPopup();
}

void DriveListBox::fill()
{
    QList<Volume> volumes = m_source ? m_source() : QList<Volume>{};
    for (Volume& v : volumes)
        v.root = local::cleanFolderPath(v.root);
    const QString root = fallbackDrive();
    if (std::none_of(volumes.cbegin(), volumes.cend(), [&](const Volume& v) { return v.root == root; }))
        volumes.prepend(Volume{root, QString(), true});
    m_volumes = volumes;

    m_filling = true;
    clear();
    for (const Volume& v : m_volumes) {
        const QString label =
            v.name.isEmpty() || v.name == v.root ? v.root : QStringLiteral("%1 [%2]").arg(v.root, v.name);
        addItem(label, v.root);
    }
    m_filling = false;
}

void DriveListBox::select(const QString& root)
{
    m_filling = true;
    m_drive = root;
    setCurrentIndex(findData(root));
    m_filling = false;
}

void DriveListBox::onIndexChanged(int index)
{
    if (m_filling || index < 0)
        return;
    const QString root = itemData(index).toString();
    if (root == m_drive)
        return;
    m_drive = root;
    emit driveChanged();
}
