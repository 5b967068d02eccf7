#pragma once
// The window's store of node pictures. Tree nodes name their picture by key, so the
// list is a keyed collection; the icon of each picture is made once here and shared by
// every node that shows it, which keeps a folder of thousands of entries cheap.

#include <QHash>
#include <QIcon>
#include <QList>
#include <QPixmap>
#include <QString>

class ImageList {
public:
    // Appends the picture and returns its index, counted from 1. Throws RuntimeFault
    // when the key is empty or already names a picture.
    int add(const QString& key, const QPixmap& picture);

    bool contains(const QString& key) const { return m_indexOfKey.contains(key); }
    // Both throw RuntimeFault for a key that names no picture.
    QPixmap pixmap(const QString& key) const;
    QIcon icon(const QString& key) const;
    int count() const { return static_cast<int>(m_pictures.size()); }

private:
    struct Picture {
        QPixmap pixmap;
        QIcon icon;
    };
    const Picture& at(const QString& key) const;

    QList<Picture> m_pictures;
    QHash<QString, qsizetype> m_indexOfKey;
};

// Loads a picture file by the name given; a relative name is taken against the current
// folder and nothing else. Throws RuntimeFault when the file is missing or is not a
// picture.
QPixmap LoadPicture(const QString& fileName);
