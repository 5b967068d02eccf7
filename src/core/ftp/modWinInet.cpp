#include "core/ftp/modWinInet.h"

#include "core/ftp/ftpConnection.h"
#include "core/ftp/ftpListing.h"
#include "core/ftp/serverAddress.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

namespace wininet {

namespace {

// ---- per-thread results -------------------------------------------------------------

thread_local std::uint32_t t_lastError = ERROR_SUCCESS;
thread_local std::string t_lastResponse;
thread_local std::int32_t t_lastResponseCode = 0;
thread_local std::string t_lastLibraryError;                      // libcurl's words for the last failed request
thread_local bool t_lastDataBegan = false;                        // the last request's upload had got under way
thread_local std::shared_ptr<const ServerIdentity> t_lastOffered; // the last login's server, when in question

bool fail(std::uint32_t code)
{
    t_lastError = code;
    t_lastLibraryError.clear();
    t_lastDataBegan = false;
    t_lastOffered.reset();
    return false;
}

HINTERNET failHandle(std::uint32_t code)
{
    fail(code);
    return 0;
}

std::uint32_t errorFor(FtpStatus status)
{
    switch (status) {
    case FtpStatus::Ok:
        return ERROR_SUCCESS;
    case FtpStatus::Refused:
        return ERROR_INTERNET_EXTENDED_ERROR;
    case FtpStatus::NameNotResolved:
        return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case FtpStatus::CannotConnect:
        return ERROR_INTERNET_CANNOT_CONNECT;
    case FtpStatus::TimedOut:
        return ERROR_INTERNET_TIMEOUT;
    case FtpStatus::ConnectionLost:
        return ERROR_INTERNET_CONNECTION_ABORTED;
    case FtpStatus::LocalFileMissing:
        return ERROR_FILE_NOT_FOUND;
    case FtpStatus::InvalidPath:
        return ERROR_INVALID_PARAMETER;
    case FtpStatus::Cancelled:
        return ERROR_INTERNET_OPERATION_CANCELLED;
    case FtpStatus::Failed:
        break;
    }
    return ERROR_INTERNET_INTERNAL_ERROR;
}

} // namespace

std::uint32_t errorCodeOf(FailureReason reason)
{
    switch (reason) {
    case FailureReason::CertificateDate:
        return ERROR_INTERNET_SEC_CERT_DATE_INVALID;
    case FailureReason::CertificateName:
        return ERROR_INTERNET_SEC_CERT_CN_INVALID;
    case FailureReason::UnknownAuthority:
        return ERROR_INTERNET_INVALID_CA;
    case FailureReason::Channel:
        return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    case FailureReason::HostKeyChanged:
        return ERROR_INTERNET_SEC_INVALID_CERT;
    case FailureReason::LoginRefused:
    case FailureReason::Refused:
        return ERROR_INTERNET_EXTENDED_ERROR;
    case FailureReason::Stalled:
        return ERROR_INTERNET_TIMEOUT;
    }
    return ERROR_INTERNET_INTERNAL_ERROR;
}

namespace {

// Sets what GetLastError and InternetGetLastResponseInfoA report after a request. A
// request that never reached the server leaves the last response as it was.
bool finish(const FtpResult& result)
{
    if (result.sent) {
        t_lastResponse = result.reply.text;
        t_lastResponseCode = result.reply.code;
    }
    t_lastError = result.reason ? errorCodeOf(*result.reason) : errorFor(result.status);
    t_lastLibraryError = result.libraryError;
    t_lastDataBegan = result.dataBegan;
    t_lastOffered = result.offered;
    return result.ok();
}

// ---- handle objects ---------------------------------------------------------------------

struct InternetObject {
    std::string agent;
    std::string proxy; // empty: direct
};

struct SessionObject {
    HINTERNET parent = 0;
    std::mutex mutex; // one call at a time on a control connection
    std::unique_ptr<FtpConnection> connection;
};

struct FindObject {
    HINTERNET parent = 0;
    std::vector<FtpListEntry> entries;
    std::size_t next = 0;
    std::mutex mutex;
};

using Object =
    std::variant<std::shared_ptr<InternetObject>, std::shared_ptr<SessionObject>, std::shared_ptr<FindObject>>;

std::mutex g_tableMutex;
std::unordered_map<HINTERNET, Object> g_table;
HINTERNET g_nextHandle = 1;

HINTERNET addHandle(Object obj)
{
    std::lock_guard lock(g_tableMutex);
    if (g_nextHandle <= 0)
        return 0; // the numbers are used up; never hand one out twice
    const HINTERNET h = g_nextHandle++;
    g_table.emplace(h, std::move(obj));
    return h;
}

template <typename T>
std::shared_ptr<T> lookup(HINTERNET h)
{
    std::lock_guard lock(g_tableMutex);
    const auto it = g_table.find(h);
    if (it == g_table.end())
        return nullptr;
    if (auto* p = std::get_if<std::shared_ptr<T>>(&it->second))
        return *p;
    return nullptr;
}

// One request on a session handle: the handle is checked, then the arguments, then the
// request runs alone on its control connection.
template <typename Request>
bool onSession(HINTERNET hConnect, bool argumentsValid, Request&& request)
{
    const auto s = lookup<SessionObject>(hConnect);
    if (!s)
        return fail(ERROR_INVALID_HANDLE);
    if (!argumentsValid)
        return fail(ERROR_INVALID_PARAMETER);
    std::lock_guard lock(s->mutex);
    return finish(request(*s->connection));
}

} // namespace

// ---- the calls ----------------------------------------------------------------------------

HINTERNET InternetOpenA(const char* lpszAgent, std::int32_t dwAccessType, const char* lpszProxy,
                        const char* /*lpszProxyBypass*/, std::int32_t /*dwFlags*/)
{
    auto obj = std::make_shared<InternetObject>();
    obj->agent = lpszAgent ? lpszAgent : "";
    if (dwAccessType == INTERNET_OPEN_TYPE_PROXY) {
        if (!lpszProxy || !*lpszProxy || hasLineBreak(lpszProxy))
            return failHandle(ERROR_INVALID_PARAMETER);
        obj->proxy = lpszProxy;
    }
    const HINTERNET h = addHandle(std::move(obj));
    if (!h)
        return failHandle(ERROR_INTERNET_INTERNAL_ERROR);
    t_lastError = ERROR_SUCCESS;
    return h;
}

HINTERNET InternetConnectA(HINTERNET hInternet, const char* lpszServerName, std::int32_t nServerPort,
                           const char* lpszUserName, const char* lpszPassword, std::int32_t dwService,
                           std::int32_t dwFlags, std::int32_t /*dwContext*/)
{
    const auto internet = lookup<InternetObject>(hInternet);
    if (!internet)
        return failHandle(ERROR_INVALID_HANDLE);
    if (!lpszServerName || hasLineBreak(lpszServerName) || hasLineBreak(lpszUserName) || hasLineBreak(lpszPassword) ||
        dwService != INTERNET_SERVICE_FTP || nServerPort < 0 || nServerPort > 65535)
        return failHandle(ERROR_INVALID_PARAMETER);
    const auto address = parseServerAddress(lpszServerName, nServerPort, INTERNET_DEFAULT_FTP_PORT);
    if (!address)
        return failHandle(ERROR_INTERNET_NAME_NOT_RESOLVED);

    FtpConnectionSettings settings;
    settings.server = *address;
    settings.user = lpszUserName && *lpszUserName ? lpszUserName : "anonymous";
    settings.password = lpszPassword ? lpszPassword : "";
    settings.proxy = internet->proxy;
    settings.agent = internet->agent;
    settings.passive = (dwFlags & INTERNET_FLAG_PASSIVE) != 0;
    auto s = std::make_shared<SessionObject>();
    s->parent = hInternet;
    s->connection = FtpConnection::create(std::move(settings));
    if (!s->connection)
        return failHandle(ERROR_INTERNET_INTERNAL_ERROR);
    {
        std::lock_guard lock(s->mutex);
        if (!finish(s->connection->login()))
            return 0;
    }
    // A session whose Internet handle was closed meanwhile must not outlive it.
    if (!lookup<InternetObject>(hInternet))
        return failHandle(ERROR_INVALID_HANDLE);
    const HINTERNET h = addHandle(std::move(s));
    if (!h)
        return failHandle(ERROR_INTERNET_INTERNAL_ERROR);
    t_lastError = ERROR_SUCCESS;
    return h;
}

bool FtpSetCurrentDirectoryA(HINTERNET hConnect, const char* lpszDirectory)
{
    return onSession(hConnect, lpszDirectory && !hasLineBreak(lpszDirectory),
                     [&](FtpConnection& c) { return c.changeFolder(lpszDirectory); });
}

namespace {

void fillFindData(const FtpListEntry& e, WIN32_FIND_DATA* out)
{
    *out = WIN32_FIND_DATA{};
    out->dwFileAttributes = e.isDirectory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    out->nFileSizeHigh = static_cast<std::uint32_t>(e.size >> 32);
    out->nFileSizeLow = static_cast<std::uint32_t>(e.size & 0xFFFFFFFFu);
    copyTruncatedUtf8(e.name, out->cFileName, sizeof out->cFileName);
}

} // namespace

HINTERNET FtpFindFirstFileA(HINTERNET hConnect, const char* lpszSearchFile, WIN32_FIND_DATA* lpFindFileData,
                            std::int32_t /*dwFlags*/, std::int32_t /*dwContext*/)
{
    const auto s = lookup<SessionObject>(hConnect);
    if (!s)
        return failHandle(ERROR_INVALID_HANDLE);
    if (!lpFindFileData || hasLineBreak(lpszSearchFile))
        return failHandle(ERROR_INVALID_PARAMETER);
    const std::string pattern = lpszSearchFile ? lpszSearchFile : "";

    auto find = std::make_shared<FindObject>();
    find->parent = hConnect;
    {
        std::vector<FtpListEntry> entries;
        std::lock_guard lock(s->mutex);
        if (!finish(s->connection->list(entries)))
            return 0;
        for (auto& e : entries)
            if (matchesFindPattern(pattern, e.name))
                find->entries.push_back(std::move(e));
    }
    if (find->entries.empty())
        return failHandle(ERROR_NO_MORE_FILES);
    fillFindData(find->entries[0], lpFindFileData);
    find->next = 1;
    const HINTERNET h = addHandle(std::move(find));
    if (!h)
        return failHandle(ERROR_INTERNET_INTERNAL_ERROR);
    t_lastError = ERROR_SUCCESS;
    return h;
}

bool InternetFindNextFileA(HINTERNET hFind, WIN32_FIND_DATA* lpvFindData)
{
    const auto find = lookup<FindObject>(hFind);
    if (!find)
        return fail(ERROR_INVALID_HANDLE);
    if (!lpvFindData)
        return fail(ERROR_INVALID_PARAMETER);
    std::lock_guard lock(find->mutex);
    if (find->next >= find->entries.size())
        return fail(ERROR_NO_MORE_FILES);
    fillFindData(find->entries[find->next++], lpvFindData);
    t_lastError = ERROR_SUCCESS;
    return true;
}

bool FtpPutFileA(HINTERNET hConnect, const char* lpszLocalFile, const char* lpszNewRemoteFile, std::int32_t dwFlags,
                 std::int32_t /*dwContext*/)
{
    const bool ascii = (dwFlags & 3) == FTP_TRANSFER_TYPE_ASCII;
    return onSession(hConnect,
                     lpszLocalFile && lpszNewRemoteFile && !hasLineBreak(lpszNewRemoteFile) &&
                         !hasLineBreak(lpszLocalFile),
                     [&](FtpConnection& c) { return c.put(lpszLocalFile, lpszNewRemoteFile, ascii); });
}

bool FtpRenameFileA(HINTERNET hConnect, const char* lpszExisting, const char* lpszNew)
{
    return onSession(hConnect, lpszExisting && lpszNew && !hasLineBreak(lpszExisting) && !hasLineBreak(lpszNew),
                     [&](FtpConnection& c) { return c.rename(lpszExisting, lpszNew); });
}

bool FtpDeleteFileA(HINTERNET hConnect, const char* lpszFileName)
{
    return onSession(hConnect, lpszFileName && !hasLineBreak(lpszFileName),
                     [&](FtpConnection& c) { return c.remove(lpszFileName); });
}

bool InternetGetLastResponseInfoA(std::int32_t* lpdwError, char* lpszBuffer, std::int32_t* lpdwBufferLength)
{
    if (!lpdwBufferLength) {
        // A question about the last request: it leaves what is known about that request
        // (libcurl's words included) as it was.
        t_lastError = ERROR_INVALID_PARAMETER;
        return false;
    }
    if (lpdwError)
        *lpdwError = t_lastResponseCode;
    const auto needed = static_cast<std::int32_t>(t_lastResponse.size());
    if (!lpszBuffer || *lpdwBufferLength < needed) {
        *lpdwBufferLength = needed;
        if (needed == 0 && lpszBuffer)
            lpszBuffer[0] = '\0';
        if (needed == 0) {
            t_lastError = ERROR_SUCCESS;
            return true;
        }
        t_lastError = ERROR_INSUFFICIENT_BUFFER;
        return false;
    }
    // The caller's buffer holds *lpdwBufferLength characters plus the terminating zero.
    std::memcpy(lpszBuffer, t_lastResponse.data(), t_lastResponse.size());
    lpszBuffer[needed] = '\0';
    *lpdwBufferLength = needed;
    t_lastError = ERROR_SUCCESS;
    return true;
}

bool InternetCloseHandle(HINTERNET hInternet)
{
    // Objects leave the table under the lock but are destroyed outside it: ending a
    // session sends QUIT and waits for the reply.
    std::vector<Object> closing;
    {
        std::lock_guard lock(g_tableMutex);
        const auto it = g_table.find(hInternet);
        if (it == g_table.end())
            return fail(ERROR_INVALID_HANDLE);
        std::vector<HINTERNET> doomed{hInternet};
        // Children go with their parent: sessions of an Internet handle, searches of a
        // session.
        for (std::size_t i = 0; i < doomed.size(); ++i) {
            for (const auto& [h, obj] : g_table) {
                HINTERNET parent = 0;
                if (const auto* sp = std::get_if<std::shared_ptr<SessionObject>>(&obj))
                    parent = (*sp)->parent;
                else if (const auto* fp = std::get_if<std::shared_ptr<FindObject>>(&obj))
                    parent = (*fp)->parent;
                if (parent == doomed[i])
                    doomed.push_back(h);
            }
        }
        for (const HINTERNET h : doomed) {
            const auto found = g_table.find(h);
            closing.push_back(std::move(found->second));
            g_table.erase(found);
        }
    }
    closing.clear();
    t_lastError = ERROR_SUCCESS;
    return true;
}

std::uint32_t GetLastError()
{
    return t_lastError;
}

int openInternetHandleCount()
{
    std::lock_guard lock(g_tableMutex);
    return static_cast<int>(g_table.size());
}

std::string lastLibraryErrorText()
{
    return t_lastLibraryError;
}

std::shared_ptr<const ServerIdentity> lastOfferedIdentity()
{
    return t_lastOffered;
}

bool lastUploadBegan()
{
    return t_lastDataBegan;
}

} // namespace wininet
