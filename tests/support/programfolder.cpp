#include "programfolder.h"

#include <QDir>
#include <QFile>

ProgramFolder::ProgramFolder(const QByteArray& settings, bool pictures) : m_previousCurrent(QDir::currentPath())
{
    if (!settings.isNull())
        writeFile(QStringLiteral("ftp.txt"), settings);
    if (pictures) {
        for (const char* name : {"open.bmp", "closed.bmp", "leaf.bmp", "root.bmp"}) {
            const QString picture = QString::fromLatin1(name);
            QFile::copy(QStringLiteral(SKYLARK_PICTURE_DIR "/") + picture, m_dir.filePath(picture));
        }
    }
    QDir::setCurrent(m_dir.path());
}

ProgramFolder::~ProgramFolder()
{
    QDir::setCurrent(m_previousCurrent);
}

void ProgramFolder::writeFile(const QString& name, const QByteArray& bytes) const
{
    QFile f(m_dir.filePath(name));
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

QByteArray ProgramFolder::readFile(const QString& name) const
{
    QFile f(m_dir.filePath(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void ProgramFolder::removeFile(const QString& name) const
{
    QFile::remove(m_dir.filePath(name));
}
