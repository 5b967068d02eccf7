#include "modWinInet.h"

#include "ftpListing.h"
#include "serverAddress.h"

#include <curl/curl.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

namespace {

// ---- per-thread results -------------------------------------------------------------

thread_local std::uint32_t t_lastError = ERROR_SUCCESS;
thread_local std::string t_lastResponse;
thread_local std::int32_t t_lastResponseCode = 0;

bool fail(std::uint32_t code)
{
    t_lastError = code;
    return false;
}

HINTERNET failHandle(std::uint32_t code)
{
    t_lastError = code;
    return 0;
}

// ---- bounds ---------------------------------------------------------------------------

std::mutex g_boundsMutex;
InternetBounds g_bounds;

// Listings are held in memory until the search handle is closed; a hostile or broken
// server must not be able to grow that without limit.
constexpr std::size_t kMaxListingBytes = 64u * 1024u * 1024u;

void ensureCurlInitialised()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// ---- reply capture ----------------------------------------------------------------------

// Assembles the server's replies from what libcurl reports as incoming header data.
// The header callback cannot be used: libcurl feeds it invented lines of its own.
struct ReplyCapture {
    std::string partialLine;
    std::vector<std::string> pendingLines;
    int openCode = -1;
    std::string lastText;
    int lastCode = 0;
    bool sawMlst = false;  // FEAT reply announced MLST
    bool inFeat = false;

    void reset()
    {
        partialLine.clear();
        pendingLines.clear();
        openCode = -1;
        lastText.clear();
        lastCode = 0;
    }

    static int codeOf(const std::string& line, char& sep)
    {
        if (line.size() < 3 || !std::isdigit(static_cast<unsigned char>(line[0])) ||
            !std::isdigit(static_cast<unsigned char>(line[1])) || !std::isdigit(static_cast<unsigned char>(line[2])))
            return -1;
        sep = line.size() > 3 ? line[3] : ' ';
        return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
    }

    void complete(int code)
    {
        lastText.clear();
        for (std::size_t i = 0; i < pendingLines.size(); ++i) {
            if (i)
                lastText += '\n';
            lastText += pendingLines[i];
        }
        lastCode = code;
        pendingLines.clear();
        openCode = -1;
    }

    void line(std::string text)
    {
        char sep = ' ';
        const int code = codeOf(text, sep);
        if (openCode < 0) {
            if (code < 0)
                return;  // stray text outside a reply
            pendingLines.push_back(std::move(text));
            if (sep == '-')
                openCode = code;
            else
                complete(code);
            return;
        }
        if (code == 211 || openCode == 211) {
            // Inside a FEAT reply every feature is on its own line, starting with a blank.
            std::string_view feature(text);
            while (!feature.empty() && feature.front() == ' ')
                feature.remove_prefix(1);
            if (feature.size() >= 4 && std::toupper(static_cast<unsigned char>(feature[0])) == 'M' &&
                std::toupper(static_cast<unsigned char>(feature[1])) == 'L' &&
                std::toupper(static_cast<unsigned char>(feature[2])) == 'S' &&
                std::toupper(static_cast<unsigned char>(feature[3])) == 'T')
                sawMlst = true;
        }
        const bool ends = code == openCode && sep == ' ';
        pendingLines.push_back(std::move(text));
        if (ends)
            complete(code);
    }

    void feed(const char* data, std::size_t size)
    {
        partialLine.append(data, size);
        std::size_t nl;
        while ((nl = partialLine.find('\n')) != std::string::npos) {
            std::string one = partialLine.substr(0, nl);
            partialLine.erase(0, nl + 1);
            if (!one.empty() && one.back() == '\r')
                one.pop_back();
            line(std::move(one));
        }
        if (partialLine.size() > 64 * 1024)
            partialLine.clear();
    }
};

int debugCallback(CURL*, curl_infotype type, char* data, size_t size, void* userp)
{
    // Only incoming control replies are looked at. Nothing is ever printed: the outgoing
    // header data carries the password.
    if (type == CURLINFO_HEADER_IN)
        static_cast<ReplyCapture*>(userp)->feed(data, size);
    return 0;
}

// ---- handle objects ---------------------------------------------------------------------

struct CurlDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
using CurlPtr = std::unique_ptr<CURL, CurlDeleter>;

struct InternetObject {
    std::string agent;
    std::string proxy;  // empty: direct
};

struct SessionObject {
    HINTERNET parent = 0;
    std::mutex mutex;  // one call at a time on a control connection
    ServerAddress server;
    std::string user;
    std::string password;
    std::string proxy;
    std::string agent;
    bool passive = false;
    std::string currentFolder = "/";
    int mlst = -1;  // -1 not yet asked, 0 no, 1 yes
    // Folder of the last request that went through on this connection; empty when
    // unknown. libcurl skips its CWD when the next request is for the same folder.
    std::string lastFolder;
    ReplyCapture replies;
    // Last, so it is cleaned up first: the QUIT sent on cleanup still reports its reply
    // into `replies`.
    CurlPtr curl;
};

struct FindObject {
    HINTERNET parent = 0;
    std::vector<FtpListEntry> entries;
    std::size_t next = 0;
    std::mutex mutex;
};

using Object = std::variant<std::shared_ptr<InternetObject>, std::shared_ptr<SessionObject>, std::shared_ptr<FindObject>>;

std::mutex g_tableMutex;
std::unordered_map<HINTERNET, Object> g_table;
HINTERNET g_nextHandle = 1;

HINTERNET addHandle(Object obj)
{
    std::lock_guard lock(g_tableMutex);
    if (g_nextHandle <= 0)
        return 0;  // the numbers are used up; never hand one out twice
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

bool hasLineBreak(const char* s) { return s && std::strpbrk(s, "\r\n") != nullptr; }

// ---- running a request --------------------------------------------------------------------

std::uint32_t errorFor(CURLcode rc, int replyCode)
{
    // 421 announces that the server is closing the control connection; libcurl reports
    // it as a timeout, but the operator's session was dropped, not left waiting.
    if (replyCode == 421 && rc != CURLE_OK)
        return ERROR_INTERNET_CONNECTION_ABORTED;
    switch (rc) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT:
        return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_FTP_ACCEPT_TIMEOUT:
        return ERROR_INTERNET_TIMEOUT;
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
        return ERROR_INTERNET_CONNECTION_ABORTED;
    default:
        break;
    }
    if (replyCode >= 400)
        return ERROR_INTERNET_EXTENDED_ERROR;
    if (rc == CURLE_WEIRD_SERVER_REPLY || rc == CURLE_PARTIAL_FILE || rc == CURLE_FTP_ACCEPT_FAILED)
        return ERROR_INTERNET_CONNECTION_ABORTED;
    return ERROR_INTERNET_INTERNAL_ERROR;
}

// Options every request on a session starts from. The easy handle is reset first so
// nothing from the previous request (upload, custom command, quote) leaks into this
// one; the live connection survives the reset.
void prepare(SessionObject& s, const std::string& url, curl_slist* quote)
{
    CURL* c = s.curl.get();
    curl_easy_reset(c);
    InternetBounds b = GetInternetBounds();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_USERNAME, s.user.c_str());
    curl_easy_setopt(c, CURLOPT_PASSWORD, s.password.c_str());
    curl_easy_setopt(c, CURLOPT_USERAGENT, s.agent.c_str());
    // An empty proxy also keeps ftp_proxy/all_proxy from the environment out of a
    // connection the operator asked to be direct.
    curl_easy_setopt(c, CURLOPT_PROXY, s.proxy.c_str());
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, b.connectSeconds);
    curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, b.responseSeconds);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, b.stallSeconds);
    curl_easy_setopt(c, CURLOPT_ACCEPTTIMEOUT_MS, b.responseSeconds * 1000L);
    curl_easy_setopt(c, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
    if (s.passive)
        curl_easy_setopt(c, CURLOPT_FTP_USE_EPSV, 1L);
    else
        curl_easy_setopt(c, CURLOPT_FTPPORT, "-");
    curl_easy_setopt(c, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, debugCallback);
    curl_easy_setopt(c, CURLOPT_DEBUGDATA, &s.replies);
    if (quote)
        curl_easy_setopt(c, CURLOPT_QUOTE, quote);
}

bool isConnectionLost(CURLcode rc, int replyCode)
{
    return errorFor(rc, replyCode) == ERROR_INTERNET_CONNECTION_ABORTED;
}

// Runs one request. When the server has dropped the control connection since the last
// call (an idle timeout, a restart), the request is made once more on a fresh login
// rather than failing an operator who did nothing wrong. `setup` sets the request's
// own options and is run before each attempt.
template <typename Setup>
CURLcode perform(SessionObject& s, const std::string& folder, Setup&& setup)
{
    s.replies.reset();
    setup(false);
    CURLcode rc = curl_easy_perform(s.curl.get());
    if (rc != CURLE_OK && isConnectionLost(rc, s.replies.lastCode)) {
        s.replies.reset();
        setup(true);
        curl_easy_setopt(s.curl.get(), CURLOPT_FRESH_CONNECT, 1L);
        rc = curl_easy_perform(s.curl.get());
    }
    s.lastFolder = rc == CURLE_OK ? folder : std::string();
    t_lastResponse = s.replies.lastText;
    t_lastResponseCode = s.replies.lastCode;
    return rc;
}

struct SlistDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
using SlistPtr = std::unique_ptr<curl_slist, SlistDeleter>;

SlistPtr makeList(const std::string& line) { return SlistPtr(curl_slist_append(nullptr, line.c_str())); }

// For a transfer in the folder of the previous request libcurl sends no CWD, so EPSV
// (or PASV, EPRT) is the first command. When its reply is already in before libcurl
// first looks (a fast server, often so on loopback), libcurl 7.88 finishes that step
// at once and then waits on the control connection, where nothing comes because the
// server waits for the data connection, until its one-second poll interval runs out.
// A command ahead of it keeps the EPSV reply from being read in that first step. The
// CWD re-asserts the folder the transfer is for; with "*" a refusal changes nothing, the
// transfer's own reply decides as before.
SlistPtr leadingCwd(const SessionObject& s, const std::string& folder)
{
    if (s.lastFolder != folder)
        return nullptr;  // libcurl sends its own CWD first
    return makeList("*CWD " + folder);
}

size_t discardBody(char*, size_t size, size_t n, void*) { return size * n; }

struct ListingSink {
    std::string data;
    bool overflow = false;
};

size_t collectListing(char* ptr, size_t size, size_t n, void* userp)
{
    auto* sink = static_cast<ListingSink*>(userp);
    const size_t bytes = size * n;
    if (sink->data.size() + bytes > kMaxListingBytes) {
        sink->overflow = true;
        return 0;
    }
    sink->data.append(ptr, bytes);
    return bytes;
}

size_t readUpload(char* buffer, size_t size, size_t n, void* userp)
{
    auto* f = static_cast<std::FILE*>(userp);
    const size_t got = std::fread(buffer, 1, size * n, f);
    if (got == 0 && std::ferror(f))
        return CURL_READFUNC_ABORT;
    return got;
}

// Asks FEAT once per session; only a listing needs to know, so an upload-only session
// never pays for it.
bool serverHasMlst(SessionObject& s)
{
    if (s.mlst >= 0)
        return s.mlst == 1;
    auto quote = makeList("*FEAT");
    s.replies.sawMlst = false;
    const auto url = ftpUrl(s.server, s.currentFolder);
    const CURLcode rc = perform(s, s.currentFolder, [&](bool) {
        prepare(s, url, quote.get());
        curl_easy_setopt(s.curl.get(), CURLOPT_NOBODY, 1L);
    });
    if (rc != CURLE_OK)
        return false;  // fall back to LIST, which every server has
    s.mlst = s.replies.sawMlst ? 1 : 0;
    return s.mlst == 1;
}

} // namespace

// ---- the calls ----------------------------------------------------------------------------

HINTERNET InternetOpenA(const char* lpszAgent, std::int32_t dwAccessType, const char* lpszProxy,
                        const char* /*lpszProxyBypass*/, std::int32_t /*dwFlags*/)
{
    ensureCurlInitialised();
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
    ensureCurlInitialised();
    const auto internet = lookup<InternetObject>(hInternet);
    if (!internet)
        return failHandle(ERROR_INVALID_HANDLE);
    if (!lpszServerName || hasLineBreak(lpszServerName) || hasLineBreak(lpszUserName) ||
        hasLineBreak(lpszPassword) || dwService != INTERNET_SERVICE_FTP || nServerPort < 0 || nServerPort > 65535)
        return failHandle(ERROR_INVALID_PARAMETER);
    const auto address = parseServerAddress(lpszServerName, nServerPort, INTERNET_DEFAULT_FTP_PORT);
    if (!address)
        return failHandle(ERROR_INTERNET_NAME_NOT_RESOLVED);
    // Until TLS and SSH are wired in here, a name that asks for them must not connect
    // in clear text.
    constexpr std::uint32_t ERROR_INTERNET_UNRECOGNIZED_SCHEME = 12006;
    if (address->scheme != Scheme::Ftp)
        return failHandle(ERROR_INTERNET_UNRECOGNIZED_SCHEME);

    auto s = std::make_shared<SessionObject>();
    s->parent = hInternet;
    s->curl.reset(curl_easy_init());
    if (!s->curl)
        return failHandle(ERROR_INTERNET_INTERNAL_ERROR);
    s->server = *address;
    s->user = lpszUserName && *lpszUserName ? lpszUserName : "anonymous";
    s->password = lpszPassword ? lpszPassword : "";
    s->proxy = internet->proxy;
    s->agent = internet->agent;
    s->passive = (dwFlags & INTERNET_FLAG_PASSIVE) != 0;

    // A request without a body on the login folder logs in (USER, PASS, PWD) and leaves
    // the connection open for the calls that follow.
    const std::string url = ftpServerUrl(*address);
    CURLcode rc;
    {
        std::lock_guard lock(s->mutex);
        s->replies.reset();
        prepare(*s, url, nullptr);
        curl_easy_setopt(s->curl.get(), CURLOPT_NOBODY, 1L);
        rc = curl_easy_perform(s->curl.get());
        s->lastFolder.clear();
        t_lastResponse = s->replies.lastText;
        t_lastResponseCode = s->replies.lastCode;
        if (rc == CURLE_OK) {
            const char* entry = nullptr;
            if (curl_easy_getinfo(s->curl.get(), CURLINFO_FTP_ENTRY_PATH, &entry) == CURLE_OK && entry && *entry)
                s->currentFolder = resolveRemotePath("/", entry);
        }
    }
    if (rc != CURLE_OK)
        return failHandle(errorFor(rc, t_lastResponseCode));
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
    const auto s = lookup<SessionObject>(hConnect);
    if (!s)
        return fail(ERROR_INVALID_HANDLE);
    if (!lpszDirectory || hasLineBreak(lpszDirectory))
        return fail(ERROR_INVALID_PARAMETER);
    std::lock_guard lock(s->mutex);
    const std::string target = resolveRemotePath(s->currentFolder, lpszDirectory);
    // libcurl leaves out the CWD when the folder equals the previous request's, which
    // would prove nothing about a folder deleted meanwhile. The quoted CWD is always
    // sent; its "*" keeps a refusal from ending the connection, and the reply decides.
    const auto quote = makeList("*CWD " + target);
    const auto url = ftpUrl(s->server, target);
    const CURLcode rc = perform(*s, target, [&](bool) {
        prepare(*s, url, quote.get());
        curl_easy_setopt(s->curl.get(), CURLOPT_NOBODY, 1L);
    });
    if (rc != CURLE_OK)
        return fail(errorFor(rc, s->replies.lastCode));
    if (s->replies.lastCode >= 400)
        return fail(ERROR_INTERNET_EXTENDED_ERROR);
    s->currentFolder = target;
    t_lastError = ERROR_SUCCESS;
    return true;
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
        std::lock_guard lock(s->mutex);
        const bool mlsd = serverHasMlst(*s);
        ListingSink sink;
        const auto url = ftpUrl(s->server, s->currentFolder);
        const auto quote = leadingCwd(*s, s->currentFolder);
        const CURLcode rc = perform(*s, s->currentFolder, [&](bool) {
            sink = ListingSink{};
            prepare(*s, url, quote.get());
            if (mlsd)
                curl_easy_setopt(s->curl.get(), CURLOPT_CUSTOMREQUEST, "MLSD");
            curl_easy_setopt(s->curl.get(), CURLOPT_WRITEFUNCTION, collectListing);
            curl_easy_setopt(s->curl.get(), CURLOPT_WRITEDATA, &sink);
        });
        if (sink.overflow)
            return failHandle(ERROR_INTERNET_INTERNAL_ERROR);
        if (rc != CURLE_OK)
            return failHandle(errorFor(rc, s->replies.lastCode));
        auto entries = mlsd ? parseMlsdListing(sink.data) : parseListListing(sink.data);
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
    const auto s = lookup<SessionObject>(hConnect);
    if (!s)
        return fail(ERROR_INVALID_HANDLE);
    if (!lpszLocalFile || !lpszNewRemoteFile || hasLineBreak(lpszNewRemoteFile) || hasLineBreak(lpszLocalFile))
        return fail(ERROR_INVALID_PARAMETER);

    // libcurl cannot tell a missing file from an empty one, and a read that fails part
    // way leaves a truncated file on the server: check before anything is sent.
    std::error_code ec;
    const std::filesystem::path local(lpszLocalFile);
    if (!std::filesystem::is_regular_file(local, ec))
        return fail(ERROR_FILE_NOT_FOUND);
    const auto size = std::filesystem::file_size(local, ec);
    if (ec)
        return fail(ERROR_FILE_NOT_FOUND);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(lpszLocalFile, "rb"), &std::fclose);
    if (!file)
        return fail(ERROR_FILE_NOT_FOUND);

    std::lock_guard lock(s->mutex);
    const std::string remote = resolveRemotePath(s->currentFolder, lpszNewRemoteFile);
    if (remote == "/")
        return fail(ERROR_INVALID_PARAMETER);
    const auto slash = remote.rfind('/');
    const std::string folder = slash == 0 ? "/" : remote.substr(0, slash);
    const std::string name = remote.substr(slash + 1);
    const auto url = ftpUrl(s->server, folder, name);
    const long ascii = (dwFlags & 3) == FTP_TRANSFER_TYPE_ASCII ? 1L : 0L;

    const auto quote = leadingCwd(*s, folder);
    const CURLcode rc = perform(*s, folder, [&](bool retry) {
        if (retry)
            std::rewind(file.get());
        prepare(*s, url, quote.get());
        CURL* c = s->curl.get();
        curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(c, CURLOPT_READFUNCTION, readUpload);
        curl_easy_setopt(c, CURLOPT_READDATA, file.get());
        curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
        // libcurl's 64 KB default costs a third of the throughput on a fast link.
        curl_easy_setopt(c, CURLOPT_UPLOAD_BUFFERSIZE, 512L * 1024L);
        curl_easy_setopt(c, CURLOPT_TRANSFERTEXT, ascii);
        curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, discardBody);
    });
    if (rc != CURLE_OK)
        return fail(errorFor(rc, s->replies.lastCode));
    t_lastError = ERROR_SUCCESS;
    return true;
}

bool InternetGetLastResponseInfoA(std::int32_t* lpdwError, char* lpszBuffer, std::int32_t* lpdwBufferLength)
{
    if (!lpdwBufferLength)
        return fail(ERROR_INVALID_PARAMETER);
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
        return fail(ERROR_INSUFFICIENT_BUFFER);
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

std::uint32_t GetLastError() { return t_lastError; }

void SetInternetBounds(const InternetBounds& bounds)
{
    std::lock_guard lock(g_boundsMutex);
    g_bounds = bounds;
}

InternetBounds GetInternetBounds()
{
    std::lock_guard lock(g_boundsMutex);
    return g_bounds;
}

int OpenInternetHandleCount()
{
    std::lock_guard lock(g_tableMutex);
    return static_cast<int>(g_table.size());
}
