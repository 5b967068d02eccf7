#include "core/ftp/ftpConnection.h"

#include "core/base/eventLog.h"
#include "core/base/fileName.h"
#include "core/ftp/serverProbe.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <utility>

namespace {

std::mutex g_boundsMutex;
FtpBounds g_bounds;

// Listings are held in memory until the caller is done with them; a hostile or broken
// server must not be able to grow that without limit.
constexpr std::size_t kMaxListingBytes = std::size_t{64} * 1024 * 1024;

FtpStatus statusFor(CURLcode rc, int replyCode)
{
    if (rc == CURLE_OK)
        return FtpStatus::Ok;
    // 421 announces that the server is closing the control connection; libcurl reports
    // it as a timeout, but the operator's session was dropped, not left waiting.
    if (replyCode == 421)
        return FtpStatus::ConnectionLost;
    switch (rc) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return FtpStatus::NameNotResolved;
    case CURLE_COULDNT_CONNECT:
        return FtpStatus::CannotConnect;
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_FTP_ACCEPT_TIMEOUT:
        return FtpStatus::TimedOut;
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
        return FtpStatus::ConnectionLost;
    default:
        break;
    }
    if (replyCode >= 400)
        return FtpStatus::Refused;
    if (rc == CURLE_WEIRD_SERVER_REPLY || rc == CURLE_PARTIAL_FILE || rc == CURLE_FTP_ACCEPT_FAILED)
        return FtpStatus::ConnectionLost;
    return FtpStatus::Failed;
}

FtpResult notSent(FtpStatus status)
{
    FtpResult result;
    result.status = status;
    return result;
}

size_t discardBody(char* /*data*/, size_t size, size_t n, void* /*userp*/)
{
    return size * n;
}

struct ListingSink {
    std::string data;
    bool overflow = false;
};

size_t collectListing(char* data, size_t size, size_t n, void* userp)
{
    auto* sink = static_cast<ListingSink*>(userp);
    const size_t bytes = size * n;
    if (sink->data.size() + bytes > kMaxListingBytes) {
        sink->overflow = true;
        return 0;
    }
    sink->data.append(data, bytes);
    return bytes;
}

size_t readUpload(char* buffer, size_t size, size_t n, void* userp)
{
    auto* file = static_cast<std::FILE*>(userp);
    const size_t got = std::fread(buffer, 1, size * n, file);
    if (got == 0 && std::ferror(file))
        return CURL_READFUNC_ABORT;
    return got;
}

// An absolute path other than "/" as its folder and its last name.
std::pair<std::string, std::string> splitPath(const std::string& path)
{
    const auto slash = path.rfind('/');
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// An older libcurl than 7.87 (a libcurl-4.dll replaced beside skylark.exe, an old system
// library) waits for a name lookup that hangs whenever a request is cut short or a
// handle goes: an end then leaves the session's thread behind. Said once, not at every
// request.
void noteQuickExit(CURLcode rc)
{
    if (rc == CURLE_OK)
        return;
    static std::once_flag once;
    std::call_once(once, [rc] {
        const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
        eventlog::warning(
            QStringLiteral("libcurl: %1 refuses CURLOPT_QUICK_EXIT (%2; 7.87 and later have it): "
                           "the end of a session waits for a name lookup that hangs")
                .arg(QString::fromLatin1(info ? info->version : "?"), QString::fromLatin1(curl_easy_strerror(rc))));
    });
}

} // namespace

void ensureCurlInitialised()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

void setRequestBasics(CURL* curl, long connectSeconds, Cancellation* cancel)
{
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    // A name lookup runs on a resolver thread that libcurl otherwise waits for when the
    // request is cut short or the handle goes: with a resolver that does not answer, the
    // program's end would wait as long as the lookup does. That thread is left to end by
    // itself instead (at the latest with the process).
    noteQuickExit(curl_easy_setopt(curl, CURLOPT_QUICK_EXIT, 1L));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, connectSeconds);
    if (cancel)
        cancel->attach(curl);
}

void setFtpBounds(const FtpBounds& bounds)
{
    const std::lock_guard lock(g_boundsMutex);
    g_bounds = bounds;
}

FtpBounds ftpBounds()
{
    const std::lock_guard lock(g_boundsMutex);
    return g_bounds;
}

std::unique_ptr<FtpConnection> FtpConnection::create(FtpConnectionSettings settings)
{
    ensureCurlInitialised();
    std::unique_ptr<FtpConnection> connection(new FtpConnection(std::move(settings)));
    if (!connection->m_curl)
        return nullptr;
    return connection;
}

FtpConnection::FtpConnection(FtpConnectionSettings settings)
    : m_settings(std::move(settings)), m_secure(m_settings.server), m_cancel(threadCancellation()),
      m_curl(curl_easy_init())
{
}

FtpConnection::~FtpConnection() = default;

std::string FtpConnection::url(std::string_view folder, std::string_view fileName) const
{
    return ftpUrl(m_settings.server, folder, fileName);
}

FtpConnection::SlistPtr FtpConnection::makeList(const std::string& line)
{
    return SlistPtr(curl_slist_append(nullptr, line.c_str()));
}

// Options every request starts from. The easy handle is reset first so nothing from the
// previous request (upload, custom command, quote) leaks into this one; the live
// connection survives the reset.
void FtpConnection::prepare(const std::string& url, const SlistPtr& quote, Cwd cwd)
{
    CURL* c = m_curl.get();
    curl_easy_reset(c);
    m_errorText[0] = '\0';
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, m_errorText);
    const FtpBounds b = ftpBounds();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_USERNAME, m_settings.user.c_str());
    curl_easy_setopt(c, CURLOPT_PASSWORD, m_settings.password.c_str());
    curl_easy_setopt(c, CURLOPT_USERAGENT, m_settings.agent.c_str());
    // An empty proxy also keeps ftp_proxy/all_proxy from the environment out of a
    // connection the operator asked to be direct.
    curl_easy_setopt(c, CURLOPT_PROXY, m_settings.proxy.c_str());
    setRequestBasics(c, b.connectSeconds, m_cancel.get());
    curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, b.responseSeconds);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, b.stallSeconds);
    curl_easy_setopt(c, CURLOPT_ACCEPTTIMEOUT_MS, b.responseSeconds * 1000L);
    // With NOCWD and an absolute path libcurl sends no CWD and still remembers the
    // folder it last went to.
    curl_easy_setopt(c, CURLOPT_FTP_FILEMETHOD,
                     static_cast<long>(cwd == Cwd::ByUrl ? CURLFTPMETHOD_SINGLECWD : CURLFTPMETHOD_NOCWD));
    if (m_settings.passive)
        curl_easy_setopt(c, CURLOPT_FTP_USE_EPSV, 1L);
    else
        curl_easy_setopt(c, CURLOPT_FTPPORT, "-");
    curl_easy_setopt(c, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, onDebug);
    curl_easy_setopt(c, CURLOPT_DEBUGDATA, this);
    if (quote)
        curl_easy_setopt(c, CURLOPT_QUOTE, quote.get());
    // Plain FTP stays exactly as it always was.
    if (m_settings.server.scheme != Scheme::Ftp)
        m_secure.apply(c, b.stallSeconds);
    if (m_cancel) {
        curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, onProgress);
        curl_easy_setopt(c, CURLOPT_XFERINFODATA, this);
    }
}

int FtpConnection::onProgress(void* self, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal, curl_off_t ulnow)
{
    auto* connection = static_cast<FtpConnection*>(self);
    if (connection->cancelled())
        return 1;
    // SFTP's own stall check, which this callback stands in for.
    if (connection->isSftp())
        return SecureChannel::onProgress(&connection->m_secure, dltotal, dlnow, ultotal, ulnow);
    return 0;
}

int FtpConnection::onDebug(CURL* /*curl*/, curl_infotype type, char* data, size_t size, void* self)
{
    // Replies are read; of the commands only what kind they were is noted. Nothing is
    // ever printed: the outgoing data carries the password.
    auto* connection = static_cast<FtpConnection*>(self);
    const std::string_view bytes(data, size);
    if (type == CURLINFO_HEADER_IN) {
        connection->m_replies.feed(bytes);
    } else if (type == CURLINFO_HEADER_OUT) {
        if (bytes.starts_with("CWD "))
            connection->m_sentCwd = true;
        else if (bytes.starts_with("USER "))
            connection->m_sentLogin = true;
    }
    return 0;
}

// Runs one request; `setup` sets its own options and runs before each attempt. When the
// server has dropped the control connection since the last request (an idle timeout, a
// restart), the request is made once more on a fresh login rather than failing an
// operator who did nothing wrong.
template <typename Setup>
FtpResult FtpConnection::perform(Cwd cwd, const std::string& folder, Setup&& setup)
{
    if (cancelled())
        return notSent(FtpStatus::Cancelled);
    const auto attempt = [&](bool retry) {
        m_replies.reset();
        m_sentCwd = false;
        m_sentLogin = false;
        setup(retry);
        if (retry)
            curl_easy_setopt(m_curl.get(), CURLOPT_FRESH_CONNECT, 1L);
        return curl_easy_perform(m_curl.get());
    };
    CURLcode rc = attempt(false);
    if (statusFor(rc, m_replies.last().code) == FtpStatus::ConnectionLost && !cancelled())
        rc = attempt(true);
    // libcurl remembers the folder of a request that went through, on the connection it
    // went through on; a new connection starts out knowing none.
    if (rc != CURLE_OK || (cwd == Cwd::None && m_sentLogin))
        m_curlFolder.clear();
    else if (cwd == Cwd::ByUrl)
        m_curlFolder = folder;
    return resultOf(rc);
}

FtpResult FtpConnection::resultOf(CURLcode rc)
{
    FtpResult result;
    result.status = statusFor(rc, m_replies.last().code);
    result.reply = m_replies.last();
    result.sent = true;
    if (rc == CURLE_OK)
        return result;
    result.libraryError = m_errorText[0] ? m_errorText : curl_easy_strerror(rc);
    if (cancelled()) {
        result.status = FtpStatus::Cancelled;
        return result;
    }
    if (const auto secure = m_secure.failure(m_curl.get(), rc, m_errorText)) {
        // The operator reads why as a server's reply; a login or folder refused over
        // SFTP reads as the FTP reply would.
        result.reason = secure->reason;
        result.reply = FtpReply{secure->responseCode, secure->responseText};
        if (secure->reason == FailureReason::LoginRefused || secure->reason == FailureReason::Refused)
            result.status = FtpStatus::Refused;
        else if (secure->reason == FailureReason::Stalled)
            result.status = FtpStatus::TimedOut;
        else if (result.status == FtpStatus::Ok)
            result.status = FtpStatus::Failed;
    }
    return result;
}

// A transfer in the folder libcurl takes the connection to be in gets no CWD, so EPSV
// (or PASV, EPRT) is its first command. When that reply is already in before libcurl
// first looks (a fast server, often so on loopback), libcurl 7.88 finishes that step at
// once and then waits on the control connection, where nothing comes because the server
// waits for the data connection, until its one-second poll interval runs out. A command
// ahead keeps the EPSV reply from being read in that first step. NOOP, not CWD: the
// folder was checked when it was changed to, and the server is to see one CWD for that.
FtpConnection::SlistPtr FtpConnection::leadingCommand(const std::string& folder) const
{
    if (m_curlFolder != folder || isSftp())
        return nullptr; // libcurl sends its own CWD first; SFTP has neither CWD nor NOOP
    return makeList("*NOOP");
}

FtpResult FtpConnection::login()
{
    // A request without a body on the login folder logs in (USER, PASS, PWD) and leaves
    // the connection open for the requests that follow. Not retried: the connection is
    // a new one already.
    if (cancelled())
        return notSent(FtpStatus::Cancelled);
    const std::string loginUrl = ftpServerUrl(m_settings.server);
    m_replies.reset();
    prepare(loginUrl, nullptr, Cwd::ByUrl);
    curl_easy_setopt(m_curl.get(), CURLOPT_NOBODY, 1L);
    const CURLcode rc = curl_easy_perform(m_curl.get());
    m_curlFolder.clear();
    if (rc == CURLE_OK) {
        const char* entry = nullptr;
        if (curl_easy_getinfo(m_curl.get(), CURLINFO_FTP_ENTRY_PATH, &entry) == CURLE_OK && entry && *entry)
            m_currentFolder = resolveRemotePath("/", entry);
    }
    FtpResult result = resultOf(rc);
    result.offered = offeredAtLogin(result);
    return result;
}

std::shared_ptr<const ServerIdentity> FtpConnection::offeredAtLogin(const FtpResult& result) const
{
    using Standing = ServerIdentity::Standing;
    if (isSftp()) {
        const auto& key = m_secure.offeredHostKey();
        if (key && (key->standing == Standing::Changed || key->standing == Standing::RecordedNew))
            return std::make_shared<const ServerIdentity>(*key);
        return nullptr;
    }
    if (!result.reason || cancelled())
        return nullptr;
    ServerIdentity offered;
    switch (*result.reason) {
    case FailureReason::UnknownAuthority:
        offered.standing = Standing::NotVouchedFor;
        break;
    case FailureReason::CertificateName:
        offered.standing = Standing::OtherName;
        break;
    case FailureReason::CertificateDate:
        offered.standing = Standing::OutOfDate;
        break;
    case FailureReason::HostKeyChanged:
        offered.standing = Standing::Changed;
        break;
    default:
        return nullptr;
    }
    // The refused handshake left nothing to read: the certificate is fetched anew.
    std::string why;
    const std::optional<Certificate> certificate = fetchCertificate(m_settings.server, &why);
    if (!certificate) {
        eventlog::warning(QStringLiteral("connect: the certificate of %1 could not be read again to be shown: %2")
                              .arg(QString::fromStdString(pinnedKeyName(m_settings.server)),
                                   eventlog::quoteOutside(QString::fromStdString(why))));
        return nullptr;
    }
    offered.kind = ServerIdentity::Kind::Certificate;
    offered.server = m_settings.server;
    offered.certificate = certificate;
    offered.fingerprint = certificateFingerprint(certificate->der);
    offered.pin = publicKeyPin(certificate->publicKey);
    if (offered.standing == Standing::Changed && !m_secure.pins().empty()) {
        const PinnedKey& pinned = m_secure.pins().front();
        offered.trustedFingerprint =
            QString::fromStdString(pinned.fingerprint.empty() ? pinned.pin : pinned.fingerprint);
    }
    return std::make_shared<const ServerIdentity>(std::move(offered));
}

FtpResult FtpConnection::changeFolder(std::string_view path)
{
    if (hasLineBreak(path))
        return notSent(FtpStatus::InvalidPath);
    const std::string target = resolveRemotePath(m_currentFolder, path);
    if (isSftp()) {
        FtpResult result = sftpFolderCheck(target);
        if (result.ok())
            m_currentFolder = target;
        return result;
    }
    const std::string folderUrl = url(target);
    // libcurl sends the CWD itself, and a refusal fails the request, unless it takes the
    // connection to be in that folder already. Then nothing goes out, which proves
    // nothing about a folder removed meanwhile, and the CWD is sent here instead ("*":
    // a refusal leaves the connection up; the reply decides). Either way, one CWD.
    FtpResult result = perform(Cwd::ByUrl, target, [&](bool) {
        prepare(folderUrl, nullptr, Cwd::ByUrl);
        curl_easy_setopt(m_curl.get(), CURLOPT_NOBODY, 1L);
    });
    if (result.ok() && !m_sentCwd) {
        const auto quote = makeList("*CWD " + target);
        result = perform(Cwd::ByUrl, target, [&](bool) {
            prepare(folderUrl, quote, Cwd::ByUrl);
            curl_easy_setopt(m_curl.get(), CURLOPT_NOBODY, 1L);
        });
    }
    if (result.ok() && result.reply.code >= 400)
        result.status = FtpStatus::Refused;
    if (result.ok())
        m_currentFolder = target;
    return result;
}

// Asks FEAT once per connection; only a listing needs to know, so a connection that
// only uploads never pays for it.
bool FtpConnection::serverHasMlst()
{
    if (isSftp())
        return false; // libcurl lists an SFTP folder in the long format of ls
    if (m_mlst >= 0)
        return m_mlst == 1;
    m_replies.forgetFeatures();
    const FtpResult result = command("FEAT");
    if (!result.ok() && result.status != FtpStatus::Refused)
        return false; // LIST this time, which every server has; FEAT is asked again next time
    m_mlst = m_replies.announcedMlst() ? 1 : 0;
    return m_mlst == 1;
}

FtpResult FtpConnection::list(std::vector<FtpListEntry>& entries)
{
    entries.clear();
    const bool mlsd = serverHasMlst();
    const std::string folder = m_currentFolder;
    const std::string folderUrl = url(folder);
    const auto quote = leadingCommand(folder);
    ListingSink sink;
    FtpResult result = perform(Cwd::ByUrl, folder, [&](bool) {
        sink = ListingSink{};
        prepare(folderUrl, quote, Cwd::ByUrl);
        if (mlsd)
            curl_easy_setopt(m_curl.get(), CURLOPT_CUSTOMREQUEST, "MLSD");
        curl_easy_setopt(m_curl.get(), CURLOPT_WRITEFUNCTION, collectListing);
        curl_easy_setopt(m_curl.get(), CURLOPT_WRITEDATA, &sink);
    });
    if (sink.overflow)
        result.status = FtpStatus::Failed;
    if (result.ok())
        entries = mlsd ? parseMlsdListing(sink.data) : parseListListing(sink.data);
    return result;
}

FtpResult FtpConnection::put(const std::string& localFile, std::string_view remotePath, bool ascii)
{
    // libcurl cannot tell a missing file from an empty one, and a read that fails part
    // way leaves a truncated file on the server: check before anything is sent.
    std::error_code ec;
    const std::filesystem::path local = filename::path(localFile);
    if (!std::filesystem::is_regular_file(local, ec))
        return notSent(FtpStatus::LocalFileMissing);
    const auto size = std::filesystem::file_size(local, ec);
    if (ec)
        return notSent(FtpStatus::LocalFileMissing);
    const std::unique_ptr<std::FILE, FileCloser> file(filename::open(localFile, "rb"));
    if (!file)
        return notSent(FtpStatus::LocalFileMissing);

    if (hasLineBreak(remotePath))
        return notSent(FtpStatus::InvalidPath);
    const std::string remote = resolveRemotePath(m_currentFolder, remotePath);
    if (remote == "/")
        return notSent(FtpStatus::InvalidPath);
    const auto [folder, name] = splitPath(remote);
    const std::string fileUrl = url(folder, name);
    const auto quote = leadingCommand(folder);
    FtpResult result = perform(Cwd::ByUrl, folder, [&](bool retry) {
        if (retry)
            std::rewind(file.get());
        prepare(fileUrl, quote, Cwd::ByUrl);
        CURL* c = m_curl.get();
        curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(c, CURLOPT_READFUNCTION, readUpload);
        curl_easy_setopt(c, CURLOPT_READDATA, file.get());
        curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
        // libcurl's 64 KB default costs a third of the throughput on a fast link.
        curl_easy_setopt(c, CURLOPT_UPLOAD_BUFFERSIZE, 512L * 1024L);
        curl_easy_setopt(c, CURLOPT_TRANSFERTEXT, ascii ? 1L : 0L);
        curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, discardBody);
    });
    curl_off_t uploaded = 0;
    curl_easy_getinfo(m_curl.get(), CURLINFO_SIZE_UPLOAD_T, &uploaded);
    result.dataBegan = m_replies.sawPreliminary() || uploaded > 0;
    return result;
}

// One command on its own, with an absolute path where it takes one, so the server's
// current folder does not matter and stays as it is. "*": a refusal leaves the
// connection up; the reply decides.
FtpResult FtpConnection::command(const std::string& line)
{
    const auto quote = makeList("*" + line);
    const std::string anyUrl = url(m_currentFolder);
    FtpResult result = perform(Cwd::None, m_currentFolder, [&](bool) {
        prepare(anyUrl, quote, Cwd::None);
        curl_easy_setopt(m_curl.get(), CURLOPT_NOBODY, 1L);
    });
    if (result.ok() && result.reply.code >= 400)
        result.status = FtpStatus::Refused;
    return result;
}

FtpResult FtpConnection::rename(std::string_view from, std::string_view to)
{
    if (hasLineBreak(from) || hasLineBreak(to))
        return notSent(FtpStatus::InvalidPath);
    const std::string source = resolveRemotePath(m_currentFolder, from);
    const std::string target = resolveRemotePath(m_currentFolder, to);
    if (source == "/" || target == "/")
        return notSent(FtpStatus::InvalidPath);
    if (isSftp())
        return sftpRename(source, target);
    // Two requests, each of one command: RNTO must come straight after RNFR, with not
    // even a CWD between them.
    FtpResult result = command("RNFR " + source);
    if (!result.ok())
        return result;
    return command("RNTO " + target);
}

FtpResult FtpConnection::remove(std::string_view path)
{
    if (hasLineBreak(path))
        return notSent(FtpStatus::InvalidPath);
    const std::string target = resolveRemotePath(m_currentFolder, path);
    if (target == "/")
        return notSent(FtpStatus::InvalidPath);
    if (isSftp())
        return sftpCommands({"rm " + sftpQuoted(target)});
    return command("DELE " + target);
}

// SFTP has no current folder on the server: a folder is checked by opening it, names
// only, which a missing folder, a file or a forbidden folder fails. (A request without
// a body only asks for the folder's attributes, and libcurl ignores a failure of that.)
FtpResult FtpConnection::sftpFolderCheck(const std::string& folder)
{
    const std::string folderUrl = url(folder);
    return perform(Cwd::ByUrl, folder, [&](bool) {
        prepare(folderUrl, nullptr, Cwd::ByUrl);
        curl_easy_setopt(m_curl.get(), CURLOPT_DIRLISTONLY, 1L);
        curl_easy_setopt(m_curl.get(), CURLOPT_WRITEFUNCTION, discardBody);
    });
}

// SFTP's rename (version 3, all libssh2 speaks) refuses an existing target, and
// libssh2 sends no posix-rename: on a refusal the target is removed and the rename made
// again, in one request. Only while the source is there, though: a rename of nothing
// must not cost the image it was to replace. The image is missing between the two
// commands, for a moment on the server's own disk, not for the length of an upload.
// The removal may fail ("*"): when the request is made again on a fresh login after
// the link dropped between the two, the target is gone already.
FtpResult FtpConnection::sftpRename(const std::string& source, const std::string& target)
{
    const std::string rename = "rename " + sftpQuoted(source) + " " + sftpQuoted(target);
    FtpResult result = sftpCommands({rename});
    // A refusal for another reason than a target in the way keeps its own words.
    if (result.status != FtpStatus::Refused || !sftpExists(source) || !sftpExists(target))
        return result;
    result = sftpCommands({"*rm " + sftpQuoted(target), rename});
    // The link went down between the two: with the old image gone and the new one still
    // under its temporary name, the rename alone puts it in place.
    if (!result.ok() && !cancelled() && !sftpExists(target) && sftpExists(source))
        result = sftpCommands({rename});
    return result;
}

// Whether the folder of path lists its name (names only).
bool FtpConnection::sftpExists(const std::string& path)
{
    const auto [folder, name] = splitPath(path);
    const std::string folderUrl = url(folder);
    ListingSink sink;
    const FtpResult listed = perform(Cwd::ByUrl, folder, [&](bool) {
        sink = ListingSink{};
        prepare(folderUrl, nullptr, Cwd::ByUrl);
        curl_easy_setopt(m_curl.get(), CURLOPT_DIRLISTONLY, 1L);
        curl_easy_setopt(m_curl.get(), CURLOPT_WRITEFUNCTION, collectListing);
        curl_easy_setopt(m_curl.get(), CURLOPT_WRITEDATA, &sink);
    });
    if (!listed.ok())
        return false;
    std::string_view rest(sink.data);
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line == name)
            return true;
    }
    return false;
}

// SFTP commands in one request on the current folder, paths absolute; the first that
// fails ends the request.
FtpResult FtpConnection::sftpCommands(const std::vector<std::string>& lines)
{
    curl_slist* list = nullptr;
    for (const auto& line : lines)
        list = curl_slist_append(list, line.c_str());
    const SlistPtr quote(list);
    const std::string anyUrl = url(m_currentFolder);
    return perform(Cwd::None, m_currentFolder, [&](bool) {
        prepare(anyUrl, quote, Cwd::None);
        curl_easy_setopt(m_curl.get(), CURLOPT_NOBODY, 1L);
    });
}
