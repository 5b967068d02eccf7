#pragma once
// Handles for tests that drive the WinInet-shaped calls directly.

#include "ftp/modWinInet.h"

#include <QTest>

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
