#include "window/ftp/imageList.h"

#include "core/base/runtimeFault.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>

int ImageList::add(const QString& key, const QPixmap& picture)
{
    if (key.isEmpty())
        throw RuntimeFault("image list: a picture needs a key");
    if (m_indexOfKey.contains(key))
        throw RuntimeFault("image list: key is not unique: " + key.toStdString());
    m_indexOfKey.insert(key, m_pictures.size());
    m_pictures.append({picture, QIcon(picture)});
    return static_cast<int>(m_pictures.size());
}

const ImageList::Picture& ImageList::at(const QString& key) const
{
    const auto found = m_indexOfKey.constFind(key);
    if (found == m_indexOfKey.cend())
        throw RuntimeFault("image list: no picture has the key " + key.toStdString());
    return m_pictures.at(*found);
}

QPixmap ImageList::pixmap(const QString& key) const
{
    return at(key).pixmap;
}

QIcon ImageList::icon(const QString& key) const
{
    return at(key).icon;
}

QPixmap LoadPicture(const QString& fileName)
{
    // Read through our own QFile: QImageReader given a name that does not exist tries it
    // again with each known suffix appended, and a missing "open.bmp" must not turn into
    // some "open.bmp.png" lying next to it.
    QFile file(fileName);
    if (fileName.isEmpty() || !QFileInfo(file).isFile())
        throw RuntimeFault("file not found: " + fileName.toStdString());
    if (!file.open(QIODevice::ReadOnly))
        throw RuntimeFault("cannot open " + fileName.toStdString() + ": " + file.errorString().toStdString());
    QImageReader reader(&file);
    const QImage image = reader.read();
    if (image.isNull())
        throw RuntimeFault("not a picture: " + fileName.toStdString() + ": " + reader.errorString().toStdString());
    return QPixmap::fromImage(image);
}
