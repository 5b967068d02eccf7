#pragma once
// Files and bytes for tests: reading back what a server or the program wrote, writing
// a file in one go, and image-sized random content.

#include <QByteArray>
#include <QFile>
#include <QRandomGenerator>
#include <QString>

// The whole file, or "<missing>" when it cannot be read, so a missing file never
// passes for an empty one.
inline QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

inline bool writeFile(const QString& path, const QByteArray& content)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(content) == content.size();
}

inline QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(QRandomGenerator::global()->bounded(256));
    return bytes;
}
