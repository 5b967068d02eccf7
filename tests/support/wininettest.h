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
    HINTERNET h;
    ~CloseOnFailure()
    {
        if (QTest::currentTestFailed())
            InternetCloseHandle(h);
    }
};

inline HINTERNET openInternet()
{
    return InternetOpenA("vb wininet", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
}

// The two-step read the error reporter does: ask the length, then fetch into length + 1.
inline QString lastResponse(std::int32_t* code = nullptr)
{
    std::int32_t c = -1;
    std::int32_t len = 0;
    InternetGetLastResponseInfoA(&c, nullptr, &len);
    QByteArray buf(len + 1, '\0');
    InternetGetLastResponseInfoA(&c, buf.data(), &len);
    if (code)
        *code = c;
    return QString::fromUtf8(buf.constData());
}

struct Listing {
    QStringList names; // folders with a trailing "/"
    std::uint32_t firstError = 0;
};

inline Listing listFolder(HINTERNET hFtp)
{
    Listing out;
    WIN32_FIND_DATA fd;
    const HINTERNET hFind = FtpFindFirstFileA(hFtp, "*.*", &fd, 0, 0);
    if (!hFind) {
        out.firstError = GetLastError();
        return out;
    }
    do {
        out.names << QString::fromUtf8(fd.cFileName) + (fd.dwFileAttributes == FILE_ATTRIBUTE_DIRECTORY ? "/" : "");
        if (fd.dwFileAttributes != FILE_ATTRIBUTE_DIRECTORY && fd.dwFileAttributes != FILE_ATTRIBUTE_NORMAL)
            out.names << "bad attributes";
    } while (InternetFindNextFileA(hFind, &fd));
    if (GetLastError() != ERROR_NO_MORE_FILES)
        out.names << "end error " + QString::number(GetLastError());
    InternetCloseHandle(hFind);
    out.names.sort();
    return out;
}
