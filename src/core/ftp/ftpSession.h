#pragma once
// One FTP session: the Internet handle opened at start-up, the session handle of a
// connect, and whether a session is open. Its calls block; SessionThread runs them on a
// thread of their own. Every operation answers with its result; the window decides
// what to show. Each
// connect, disconnect, upload, and each failed folder change or listing is written to
// the event log with its result and the time it took; the password never is. The
// WinInet-shaped layer below stays out of the window's sight: nothing here exposes its
// handles or its last-error state.

#include "core/ftp/serverIdentity.h"
#include "core/ftp/winInetCodes.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

// The server's reply: its code and its text (lines joined by "\n").
struct ServerReply {
    std::int32_t code = 0;
    QString text;
};

// A call of the FTP layer that failed, with all there is to tell about it, taken when
// it failed: its error code (winInetCodes.h; ERROR_INTERNET_EXTENDED_ERROR means the
// server answered with an error, and reply holds that answer), the name of the call,
// the server's last reply and libcurl's own words for the failure.
struct FtpFailure {
    std::uint32_t code = 0;
    QString call; // "InternetOpen", "InternetConnect", "FtpFindFirstFile", ...
    ServerReply reply;
    QString libraryText;
    // A connect refused for the server's certificate or host key: what it offered, to
    // be named in the log and, on the operator's Connect, trusted if the operator says so.
    std::shared_ptr<const ServerIdentity> offered = nullptr;
};

// One entry of a folder listing.
struct RemoteEntry {
    QString name;
    bool isFolder = false;
};

// What listing a folder came to: its entries in the server's order. An empty folder is
// not a failure of the call; a listing cut short keeps the entries read before the
// failure.
struct ListResult {
    QList<RemoteEntry> entries;
    bool empty = false;
    std::optional<FtpFailure> failure;
};

class FtpSession {
public:
    FtpSession() = default;
    ~FtpSession();
    FtpSession(const FtpSession&) = delete;
    FtpSession& operator=(const FtpSession&) = delete;

    // Opens the Internet handle, direct or through the proxy when one is given.
    std::optional<FtpFailure> openInternet(const QString& proxy);

    // Logs in. On failure the session stays closed. The log names the certificate or
    // host key that failed it, and a host key recorded as the first of a server.
    std::optional<FtpFailure> connect(const QString& server, const QString& user, const QString& password,
                                      bool passive);
    // Ends the session; the Internet handle stays open, so the window can connect again.
    void disconnect();
    // Ends the session and closes the Internet handle.
    void close();

    // Makes a folder the current one; why not, when the server refused it or the call
    // failed.
    std::optional<FtpFailure> changeFolder(const QString& folder);
    // Lists the current folder.
    ListResult list();

    // Sends a local file into the current folder under the remote name, as the transfer
    // type (FTP_TRANSFER_TYPE_BINARY, FTP_TRANSFER_TYPE_ASCII) says. The file goes
    // to a temporary name first and is then renamed over the remote name, so that name
    // only ever holds a complete file, old or new; a server that refuses the temporary
    // name or the rename gets the file under its final name for the rest of the session,
    // where an upload cut short leaves it short (and the log says so).
    std::optional<FtpFailure> putFile(const QString& localFile, const QString& remoteName, std::int32_t transferType);
    // The name a file travels under before it replaces the remote name.
    static QString temporaryName(const QString& remoteName);

    // A failure in the log's words: its call, code and name, libcurl's text for it and
    // the server's last reply, those two without the password.
    static QString describe(const FtpFailure& failure);
    // The same in a few words, for a line of the upload record: the call and the
    // server's reply ("FtpPutFile 451 Local error in processing."), or the call and the
    // error's name.
    static QString brief(const FtpFailure& failure);
    // The folder whose ftp-ca.pem, ftp-pins.txt and known_hosts say which servers are
    // trusted, for every session of the process.
    static void useTrustFolder(const QString& folder);

    // An SFTP server's host key, when known_hosts does not hold it (New) or holds another
    // one (Changed), looked at without logging in (serverProbe.h). Nothing for a known
    // key, for a server of another scheme, and when no key could be seen (the log says
    // why): the connect then finds out for itself.
    static std::optional<ServerIdentity> lookAtHostKey(const QString& server);

private:
    std::optional<FtpFailure> putAtomically(const QString& localFile, const QString& remoteName,
                                            std::int32_t transferType);
    // finalName: the name the image keeps, where a transfer cut short stays short.
    std::optional<FtpFailure> putDirect(const QByteArray& localFile, const QByteArray& remoteName,
                                        std::int32_t transferType, bool finalName);
    void uploadDirectlyFromNowOn(const char* why);

    friend class SessionThread; // hands the handles to the window's view of the session

    std::int32_t m_internet = 0;  // Internet handle; 0 when not open
    std::int32_t m_ftp = 0;       // session handle; 0 when no session
    QString m_server;             // of the open session, for the log
    QString m_folder;             // the last folder made current, for the log; empty: the login folder
    bool m_directUploads = false; // this session's server refused a temporary name or the rename
};
