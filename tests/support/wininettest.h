#pragma once
// Helpers for tests that drive the WinInet-shaped calls directly: handles, the last
// response, a folder's listing.

#include "core/ftp/modWinInet.h"

#include <QString>
#include <QStringList>
#include <QTest>

#include <cstdint>

// Closes the Internet handle (and so everything under it) when a test fails part way,
// so one failure does not show up again as a leak in every later test.
struct CloseOnFailure {
    wininet::HINTERNET h;
    ~CloseOnFailure()
    {
        if (QTest::currentTestFailed())
            wininet::InternetCloseHandle(h);
    }
};

inline wininet::HINTERNET openInternet()
{
    return wininet::InternetOpenA("vb wininet", wininet::INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
}

// The two-step read the error reporter does: ask the length, then fetch into length + 1.
inline QString lastResponse(std::int32_t* code = nullptr)
{
    std::int32_t c = -1;
    std::int32_t len = 0;
    wininet::InternetGetLastResponseInfoA(&c, nullptr, &len);
    QByteArray buf(len + 1, '\0');
    wininet::InternetGetLastResponseInfoA(&c, buf.data(), &len);
    if (code)
        *code = c;
    return QString::fromUtf8(buf.constData());
}

struct Listing {
    QStringList names; // folders with a trailing "/"
    std::uint32_t firstError = 0;
};

inline Listing listFolder(wininet::HINTERNET hFtp)
{
    Listing out;
    wininet::WIN32_FIND_DATA fd;
    const wininet::HINTERNET hFind = wininet::FtpFindFirstFileA(hFtp, "*.*", &fd, 0, 0);
    if (!hFind) {
        out.firstError = wininet::GetLastError();
        return out;
    }
    do {
        out.names << QString::fromUtf8(fd.cFileName) + (fd.dwFileAttributes == FILE_ATTRIBUTE_DIRECTORY ? "/" : "");
        if (fd.dwFileAttributes != FILE_ATTRIBUTE_DIRECTORY && fd.dwFileAttributes != FILE_ATTRIBUTE_NORMAL)
            out.names << "bad attributes";
    } while (wininet::InternetFindNextFileA(hFind, &fd));
    if (wininet::GetLastError() != ERROR_NO_MORE_FILES)
        out.names << "end error " + QString::number(wininet::GetLastError());
    wininet::InternetCloseHandle(hFind);
    out.names.sort();
    return out;
}
