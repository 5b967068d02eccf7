#pragma once
// Standard error of this process, sent to a file for as long as the object lives (or
// until text() is read), for tests that check what the program writes there.

#include <QByteArray>
#include <QFile>
#include <QTemporaryFile>

#include <unistd.h>

#include <cstdio>

class StderrCapture {
public:
    StderrCapture()
    {
        m_file.open();
        std::fflush(stderr);
        m_saved = dup(2);
        dup2(m_file.handle(), 2);
    }
    ~StderrCapture() { restore(); }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    // Ends the capture and returns all that was written.
    QByteArray text()
    {
        restore();
        QFile f(m_file.fileName());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        std::fflush(stderr);
        dup2(m_saved, 2);
        ::close(m_saved);
        m_saved = -1;
    }
    QTemporaryFile m_file;
    int m_saved = -1;
};
