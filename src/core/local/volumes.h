#pragma once
// The machine's volumes as the drive list sees them, and the path rules the three
// local lists share. Kept apart from the widgets so the rules can be tried without
// a window and so tests can hand the lists volumes that do not exist on this machine.

#include <QByteArray>
#include <QList>
#include <QString>

struct Volume {
    QString root;      // where it is mounted, native separators ("/", "/media/cd", "C:\")
    QString name;      // label for the operator; may be empty
    bool ready = true; // false: a drive without a medium, or one that cannot answer now
};

namespace local {

// Absolute, cleaned, native separators, no trailing separator except at a root.
// Every path the lists hand out goes through this, so the owner can compare them as text.
QString cleanFolderPath(const QString& path);

// Whether a file system is worth offering: kernel interfaces (proc, sysfs, cgroup...)
// and the run-time tmpfs mounts under /proc, /sys, /dev and /run would bury the
// operator's real disks in a long list nobody picks from.
bool isUsefulVolume(const QByteArray& fileSystemType, const QString& root);

// The volumes of this machine, useful ones only, sorted by root, each root once.
QList<Volume> mountedVolumes();

// Index of the volume that holds the path (the one with the longest matching root),
// or -1. Both sides are expected to be cleaned.
qsizetype volumeHolding(const QList<Volume>& volumes, const QString& cleanPath);

} // namespace local
