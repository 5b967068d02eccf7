#pragma once
// A program folder for window tests: ftp.txt, the four tree pictures, and whatever
// files a test adds. It becomes the current folder, since the pictures are looked up
// there, and the FakePlatform reports it as the executable's folder.

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

class FakePlatform;
class FTPform;

class ProgramFolder {
public:
    static constexpr const char* kSettings = "\"ftp1\",\"user\",\"secret\",\"ftp1/pub\",\"30\",\"20\"\r\n";

    explicit ProgramFolder(const QByteArray& settings = kSettings, bool pictures = true);
    ~ProgramFolder();

    QString path() const { return m_dir.path(); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }
    void writeFile(const QString& name, const QByteArray& bytes) const;
    QByteArray readFile(const QString& name) const;
    void removeFile(const QString& name) const;

private:
    QTemporaryDir m_dir;
    QString m_previousCurrent;
};
