#pragma once
// Files and bytes for tests: reading back what a server or the program wrote, writing
// a file in one go, image-sized random content, and the name of an hour's image.

#include <QByteArray>
#include <QCryptographicHash>
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

// The file's SHA-256, or empty when it cannot be read: compares large files cheaply.
inline QByteArray sha256Of(const QString& path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    return file.open(QIODevice::ReadOnly) && hash.addData(&file) ? hash.result() : QByteArray();
}

// "00.jpg" to "23.jpg".
inline QString fileOfHour(int hour)
{
    return QStringLiteral("%1.jpg").arg(hour, 2, 10, QLatin1Char('0'));
}
