#pragma once
// The program's Internet client layer: the handful of WinInet-style calls the window
// uses, with the same names, argument order and results, carried out on libcurl.
//
// Handles are 32-bit numbers looked up in a table; 0 means failure, and a stale or
// unknown handle fails with error 6 instead of touching freed memory. After a call,
// GetLastError() tells why it failed (thread-local, like the platform's own); the codes
// and their names are in winInetCodes.h.
// Strings are UTF-8 (the locale's code page here). How long a call waits on a server
// that has gone silent is setFtpBounds()'s (ftpConnection.h).

#include "core/ftp/secureOptions.h"
#include "core/ftp/winInetCodes.h"

#include <cstdint>
#include <memory>
#include <string>

// The calls and records are the platform's names too (GetLastError, FILETIME,
// WIN32_FIND_DATA), and windows.h comes with libcurl's header on Windows: a file that
// sees both names them wininet::, or says `using namespace wininet;` where it does not.

// File attributes in a find record, and the length of its name. Macros of winnt.h and
// windef.h on Windows, taken as they are there, and defined here elsewhere, for the
// reason winInetCodes.h gives for the error codes.
#ifdef _WIN32
static_assert(FILE_ATTRIBUTE_DIRECTORY == 16 && FILE_ATTRIBUTE_NORMAL == 128 && MAX_PATH == 260);
#else
constexpr std::uint32_t FILE_ATTRIBUTE_DIRECTORY = 16;
constexpr std::uint32_t FILE_ATTRIBUTE_NORMAL = 128;
constexpr int MAX_PATH = 260;
#endif

namespace wininet {

using HINTERNET = std::int32_t;

// Access types of InternetOpenA.
constexpr std::int32_t INTERNET_OPEN_TYPE_DIRECT = 1;
constexpr std::int32_t INTERNET_OPEN_TYPE_PROXY = 3;
// Service of InternetConnectA.
constexpr std::int32_t INTERNET_SERVICE_FTP = 1;
constexpr std::int32_t INTERNET_DEFAULT_FTP_PORT = 21;
// Flags.
constexpr std::int32_t INTERNET_FLAG_PASSIVE = 0x8000000;

struct FILETIME {
    std::uint32_t dwLowDateTime = 0;
    std::uint32_t dwHighDateTime = 0;
};

// Mirrors WIN32_FIND_DATAA; only the attributes and the name are filled in.
struct WIN32_FIND_DATA {
    std::uint32_t dwFileAttributes = 0;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    std::uint32_t nFileSizeHigh = 0;
    std::uint32_t nFileSizeLow = 0;
    std::uint32_t dwReserved0 = 0;
    std::uint32_t dwReserved1 = 0;
    char cFileName[MAX_PATH] = {};
    char cAlternateFileName[14] = {};
};

HINTERNET InternetOpenA(const char* lpszAgent, std::int32_t dwAccessType, const char* lpszProxy,
                        const char* lpszProxyBypass, std::int32_t dwFlags);

// Logs in at once. nServerPort 0 means the FTP default, unless the server name itself
// carries a port ("host:port", "[v6]:port").
HINTERNET InternetConnectA(HINTERNET hInternet, const char* lpszServerName, std::int32_t nServerPort,
                           const char* lpszUserName, const char* lpszPassword, std::int32_t dwService,
                           std::int32_t dwFlags, std::int32_t dwContext);

HINTERNET FtpFindFirstFileA(HINTERNET hConnect, const char* lpszSearchFile, WIN32_FIND_DATA* lpFindFileData,
                            std::int32_t dwFlags, std::int32_t dwContext);

bool InternetFindNextFileA(HINTERNET hFind, WIN32_FIND_DATA* lpvFindData);

bool FtpSetCurrentDirectoryA(HINTERNET hConnect, const char* lpszDirectory);

// The local file's name is UTF-8 on every platform (opened in wide characters on Windows).
bool FtpPutFileA(HINTERNET hConnect, const char* lpszLocalFile, const char* lpszNewRemoteFile, std::int32_t dwFlags,
                 std::int32_t dwContext);

// Paths are relative to the current folder or absolute; the folder stays as it was.
bool FtpRenameFileA(HINTERNET hConnect, const char* lpszExisting, const char* lpszNew);
bool FtpDeleteFileA(HINTERNET hConnect, const char* lpszFileName);

// First call with lpszBuffer null: *lpdwBufferLength receives the length of the text
// (without its terminating zero). Second call with a buffer of that length + 1: the
// text, zero-terminated. *lpdwError receives the reply code of the server's last reply.
bool InternetGetLastResponseInfoA(std::int32_t* lpdwError, char* lpszBuffer, std::int32_t* lpdwBufferLength);

bool InternetCloseHandle(HINTERNET hInternet);

std::uint32_t GetLastError();

// The code a secure failure's reason is reported with (winInetCodes.h): the one place
// where the connection's reasons become the codes the window knows.
std::uint32_t errorCodeOf(FailureReason reason);

// libcurl's own words for this thread's last failed call ("Failed to connect to
// 127.0.0.1 port 21 after 0 ms: Couldn't connect to server"); empty when that call
// failed before it reached libcurl.
std::string lastLibraryErrorText();

// What the server of this thread's last InternetConnectA proved itself with, when its
// trust was in question: the certificate or host key that failed the connect, or a host
// key it recorded as the first of a server never seen. Null otherwise.
std::shared_ptr<const ServerIdentity> lastOfferedIdentity();

// Whether this thread's last failed FtpPutFileA had got under way (the server took the
// STOR, or bytes of the file went out) before it failed; false when the server refused
// the upload outright.
bool lastUploadBegan();

// Number of handles currently open (sessions, searches, Internet handles): lets tests
// and the long-running checks see that nothing leaks.
int openInternetHandleCount();

} // namespace wininet
