#include "core/scheduler/sendFile.h"

#include "core/base/runtimeFault.h"

#include <QDir>
#include <QFileInfo>

bool programFolderHolds(const QString& folder, const QString& name)
{
    const QDir dir(folder);
    if (!dir.exists() || !dir.isReadable())
        throw RuntimeFault("program folder cannot be listed");
    // A listing yields bare names only, never a path, a hidden name or the folder links.
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')) || name.contains(QLatin1Char('/')) ||
        name.contains(QLatin1Char('\\')))
        return false;
    const QFileInfo info(dir.filePath(name));
    if (!info.isFile() || info.isHidden())
        return false;
    if (info.isSymLink())
        return true; // listed under its own name, whatever it points to
    // On a file system that ignores case, the name must still match exactly.
    return QFileInfo(info.canonicalFilePath()).fileName() == name;
}
