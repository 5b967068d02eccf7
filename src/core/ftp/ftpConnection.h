#pragma once
// One logged-in connection to an FTP server, on libcurl: the requests the program
// makes, each answered with how it went and the server's last reply to it.
//
// Remote paths are resolved against the connection's current folder ("\" counts as
// "/"). Not safe for use from two threads at once; one request at a time. Another
// thread can cut its requests short through the Cancellation of the thread that made
// the connection.
//
// The scheme of the server name decides the protocol: plain FTP, FTP over TLS (ftpes,
// ftps) or SFTP. url() makes every request's URL and prepare() sets the options every
// request shares, the channel's TLS or SSH ones included. The folder is followed by
// this object, so SFTP, which has no current folder on the server, gets its own check
// in changeFolder(); its rename replaces an existing target as FTP's RNTO does.

#include "core/ftp/cancellation.h"
#include "core/ftp/ftpListing.h"
#include "core/ftp/ftpReply.h"
#include "core/ftp/secureOptions.h"
#include "core/ftp/serverAddress.h"

#include <curl/curl.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// How long a request may wait on a server that has gone silent: connect 15 s, each
// reply 30 s, and a transfer that moves less than 1 byte/s for 30 s is abandoned.
// Process-wide; a change applies from the next request on. Tests shorten them.
struct FtpBounds {
    long connectSeconds = 15;
    long responseSeconds = 30;
    long stallSeconds = 30; // a transfer moving less than 1 byte/s this long is abandoned
};
void setFtpBounds(const FtpBounds& bounds);
FtpBounds ftpBounds();

// The program's one initialisation of libcurl, made before its first request on any
// thread (a connection, a message to the owner); the end of the process frees it.
void ensureCurlInitialised();
// What every request of the program sets, whatever it speaks: no signals (it runs on a
// thread of its own), a connect bounded to `connectSeconds`, a name lookup that never
// holds up the end (CURLOPT_QUICK_EXIT, logged once where the libcurl in use refuses
// it), and, given a cancellation, the request's sockets opened through it, so that the
// end can shut them.
void setRequestBasics(CURL* curl, long connectSeconds, Cancellation* cancel);

enum class FtpStatus {
    Ok,
    Refused, // the server answered 4xx or 5xx
    NameNotResolved,
    CannotConnect,
    TimedOut,
    ConnectionLost,   // the server closed or broke the connection, or said it would (421)
    LocalFileMissing, // nothing was sent
    InvalidPath,      // a path that names no file ("/"); nothing was sent
    Cancelled,        // cut short from another thread (Cancellation)
    Failed,           // anything else, a listing too large to hold included
};

struct FtpResult {
    FtpStatus status = FtpStatus::Ok;
    FtpReply reply;           // the server's last reply; empty when none came
    bool sent = false;        // false: refused before anything went to the server
    std::string libraryError; // libcurl's own words for a failed request; empty otherwise
    // A failed TLS or SSH connect (untrusted certificate, changed host key, ...) or an
    // SFTP refusal, with reply holding the code and text the operator is to read.
    // Nothing for everything plain FTP can fail with.
    std::optional<FailureReason> reason;
    // An upload got under way before it failed: the server said it would take the data
    // (a 1xx reply), or bytes of the file went out. False for a refusal of the command.
    bool dataBegan = false;
    // A login's server when its trust was in question: the certificate that was refused
    // (read on a connection of its own, serverProbe.h) or the host key that was refused
    // or recorded as new.
    std::shared_ptr<const ServerIdentity> offered = nullptr;

    bool ok() const { return status == FtpStatus::Ok; }
};

// A line break in a name would end an FTP command early and start another one.
inline bool hasLineBreak(std::string_view text)
{
    return text.find_first_of("\r\n") != std::string_view::npos;
}
inline bool hasLineBreak(const char* text)
{
    return text && hasLineBreak(std::string_view(text));
}

struct FtpConnectionSettings {
    ServerAddress server;
    std::string user;
    std::string password;
    std::string proxy; // empty: direct, whatever the environment says
    std::string agent;
    bool passive = true;
};

class FtpConnection {
public:
    // Nothing is sent yet; null when libcurl cannot make a handle.
    static std::unique_ptr<FtpConnection> create(FtpConnectionSettings settings);
    ~FtpConnection();
    FtpConnection(const FtpConnection&) = delete;
    FtpConnection& operator=(const FtpConnection&) = delete;

    // Logs in and stays connected; the current folder becomes the login folder. When
    // the server's certificate or host key was refused, or a host key recorded as new,
    // the result says which it was (offered).
    FtpResult login();

    const std::string& currentFolder() const { return m_currentFolder; }

    // The server is asked every time, so a folder removed meanwhile is refused even
    // when it is the current one. On a refusal the current folder stays as it was.
    FtpResult changeFolder(std::string_view path);

    // The current folder's entries ("." and ".." left out), with MLSD when the server
    // has it, LIST otherwise.
    FtpResult list(std::vector<FtpListEntry>& entries);

    // Uploads a local file; the local file is checked before anything is sent.
    FtpResult put(const std::string& localFile, std::string_view remotePath, bool ascii);

    FtpResult rename(std::string_view from, std::string_view to);
    FtpResult remove(std::string_view path);

private:
    struct CurlDeleter {
        void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
    };
    struct SlistDeleter {
        void operator()(curl_slist* list) const { curl_slist_free_all(list); }
    };
    using SlistPtr = std::unique_ptr<curl_slist, SlistDeleter>;

    // Whether libcurl is to bring the server to the URL's folder with a CWD of its own.
    enum class Cwd { ByUrl, None };

    explicit FtpConnection(FtpConnectionSettings settings);

    static SlistPtr makeList(const std::string& line);
    std::string url(std::string_view folder, std::string_view fileName = {}) const;
    void prepare(const std::string& url, const SlistPtr& quote, Cwd cwd);
    template <typename Setup>
    FtpResult perform(Cwd cwd, const std::string& folder, Setup&& setup);
    FtpResult command(const std::string& line);
    bool isSftp() const { return m_settings.server.scheme == Scheme::Sftp; }
    FtpResult sftpFolderCheck(const std::string& folder);
    FtpResult sftpCommands(const std::vector<std::string>& lines);
    FtpResult sftpRename(const std::string& source, const std::string& target);
    bool sftpExists(const std::string& path);
    SlistPtr leadingCommand(const std::string& folder) const;
    bool serverHasMlst();
    FtpResult resultOf(CURLcode rc);
    std::shared_ptr<const ServerIdentity> offeredAtLogin(const FtpResult& result) const;
    bool cancelled() const { return m_cancel && m_cancel->cancelled(); }
    static int onDebug(CURL* curl, curl_infotype type, char* data, size_t size, void* self);
    static int onProgress(void* self, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal, curl_off_t ulnow);

    FtpConnectionSettings m_settings;
    std::string m_currentFolder = "/";
    int m_mlst = -1; // -1 not yet asked, 0 no, 1 yes
    // The folder libcurl takes the connection to be in (it sends no CWD for a request
    // in it); empty when unknown.
    std::string m_curlFolder;
    // What went out during the request under way.
    bool m_sentCwd = false;
    bool m_sentLogin = false;
    FtpReplyReader m_replies;
    // TLS or SSH options and what a failure of them means; nothing for plain FTP.
    SecureChannel m_secure;
    // What may cut this connection's requests short: the opening thread's; null: nothing.
    std::shared_ptr<Cancellation> m_cancel;
    char m_errorText[CURL_ERROR_SIZE] = {}; // libcurl's words for the request under way
    // Last, so it is cleaned up first: the QUIT sent then still reaches the members above.
    std::unique_ptr<CURL, CurlDeleter> m_curl;
};
