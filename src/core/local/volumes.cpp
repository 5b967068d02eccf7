#include "core/local/volumes.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>

namespace local {

namespace {

// Windows file systems ignore case, so "c:\Data" lies on "C:\".
constexpr Qt::CaseSensitivity kPathCase =
#if defined(Q_OS_WIN)
    Qt::CaseInsensitive;
#else
    Qt::CaseSensitive;
#endif

bool isUnder(const QString& path, const QString& root)
{
    if (path.compare(root, kPathCase) == 0)
        return true;
    QString prefix = root;
    if (!prefix.endsWith(QDir::separator()))
        prefix += QDir::separator();
    return path.startsWith(prefix, kPathCase);
}

} // namespace

QString cleanFolderPath(const QString& path)
{
    // absoluteFilePath keeps symbolic links as given: the operator should see the
    // folder under the name they chose, not where it happens to point.
    const QString absolute = QFileInfo(QDir::fromNativeSeparators(path)).absoluteFilePath();
    return QDir::toNativeSeparators(QDir::cleanPath(absolute));
}

bool isUsefulVolume(const QByteArray& fileSystemType, const QString& root)
{
    static const QByteArray pseudo[] = {
        "proc",        "sysfs",    "cgroup",     "cgroup2", "devpts",    "devtmpfs",        "debugfs",     "tracefs",
        "securityfs",  "pstore",   "bpf",        "mqueue",  "hugetlbfs", "configfs",        "fusectl",     "autofs",
        "binfmt_misc", "efivarfs", "rpc_pipefs", "nsfs",    "selinuxfs", "fuse.gvfsd-fuse", "fuse.portal",
    };
    if (std::find(std::begin(pseudo), std::end(pseudo), fileSystemType) != std::end(pseudo))
        return false;

    const QString r = QDir::fromNativeSeparators(root);
    if (r == QDir::fromNativeSeparators(QDir::rootPath()))
        return true;
    for (const char* system : {"/proc", "/sys", "/dev", "/snap"}) {
        if (r == QLatin1String(system) || r.startsWith(QLatin1String(system) + u'/'))
            return false;
    }
    // /run holds only run-time state, except where some desktops mount removable media.
    if (r == u"/run" || r.startsWith(u"/run/"))
        return r.startsWith(u"/run/media/");
    return true;
}

QList<Volume> mountedVolumes()
{
    QList<Volume> volumes;
    for (const QStorageInfo& info : QStorageInfo::mountedVolumes()) {
        if (!isUsefulVolume(info.fileSystemType(), info.rootPath()))
            continue;
        // Containers bind single files (/etc/hosts) as mounts; they are not drives.
        if (!QFileInfo(info.rootPath()).isDir())
            continue;
        const QString root = cleanFolderPath(info.rootPath());
        const bool seen =
            std::any_of(volumes.cbegin(), volumes.cend(), [&](const Volume& v) { return v.root == root; });
        if (seen)
            continue;
        volumes.append(Volume{root, info.name(), info.isValid() && info.isReady()});
    }
    std::sort(volumes.begin(), volumes.end(),
              [](const Volume& a, const Volume& b) { return a.root.compare(b.root, Qt::CaseInsensitive) < 0; });
    return volumes;
}

qsizetype volumeHolding(const QList<Volume>& volumes, const QString& cleanPath)
{
    qsizetype best = -1;
    for (qsizetype i = 0; i < volumes.size(); ++i) {
        if (isUnder(cleanPath, volumes[i].root) && (best < 0 || volumes[i].root.size() > volumes[best].root.size()))
            best = i;
    }
    return best;
}

} // namespace local
