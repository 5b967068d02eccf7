#pragma once
// Drive1: the volumes of the machine in a drop-down. Its Drive is the selected
// volume's root; choosing another one, by hand or by setDrive, sends driveChanged.

#include "core/local/volumes.h"

#include <QComboBox>

#include <functional>

class DriveListBox : public QComboBox {
    Q_OBJECT
    Q_PROPERTY(QString drive READ drive WRITE setDrive NOTIFY driveChanged)

public:
    using VolumeSource = std::function<QList<Volume>()>;

    explicit DriveListBox(QWidget* parent = nullptr);

    // Root of the selected volume, cleaned, native separators.
    QString drive() const { return m_drive; }
    // Selects the volume holding the given path (a root, or any path on it) and sends
    // driveChanged when that is another volume. Readiness is not checked here: a drive
    // without a medium can be selected, it only fails when someone tries to open it.
    // Throws RuntimeFault when no volume holds the path; nothing changes then.
    void setDrive(const QString& drive);

    // Where the volumes come from; by default the machine's mounted volumes. The system
    // root is always added, so the fallback drive can always be selected. Re-reads the
    // list at once.
    void setVolumeSource(VolumeSource source);
    // Re-reads the volumes (also done each time the operator opens the list, so media
    // inserted meanwhile show up). When the selected volume has gone, selects the
    // fallback drive and sends driveChanged.
    void refresh();

    QList<Volume> volumes() const { return m_volumes; }
    // Whether the volume holding the path can be read, as of the last refresh. A path on
    // no known volume counts as ready: there is nothing known against it.
    bool isReady(const QString& path) const;

    // The drive to fall back on when the chosen one cannot be used: the system root.
    static QString fallbackDrive();

    void showPopup() override;

signals:
    void driveChanged();

private:
    void fill();
    void select(const QString& root);
    void onIndexChanged(int index);

    VolumeSource m_source;
    QList<Volume> m_volumes;
    QString m_drive;
    bool m_filling = false;
};
