#include "core/ftp/ftpSession.h"

#include "core/base/eventLog.h"
#include "core/ftp/cancellation.h"
#include "core/ftp/modWinInet.h"
#include "core/ftp/secureOptions.h"
#include "core/ftp/serverProbe.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>

// GetLastError and WIN32_FIND_DATA are named wininet:: below: windows.h has them too.
using namespace wininet;

namespace {

ServerReply lastResponse()
{
    std::int32_t code = 0;
    std::int32_t length = 0;
    InternetGetLastResponseInfoA(&code, nullptr, &length);
    std::string buffer(static_cast<size_t>(length < 0 ? 0 : length) + 1, '\0');
    InternetGetLastResponseInfoA(&code, buffer.data(), &length);
    return ServerReply{code, QString::fromLocal8Bit(buffer.c_str())};
}

// Everything this thread's last call left to tell. The error code first: asking for the
// reply is a call of its own, which sets it anew.
FtpFailure lastFailure(const char* call)
{
    FtpFailure failure;
    failure.code = wininet::GetLastError();
    failure.call = QString::fromLatin1(call);
    failure.libraryText = QString::fromStdString(lastLibraryErrorText());
    failure.offered = lastOfferedIdentity();
    failure.reply = lastResponse();
    return failure;
}

QString recordName(const wininet::WIN32_FIND_DATA& record)
{
    return QString::fromLocal8Bit(record.cFileName, static_cast<qsizetype>(strnlen(record.cFileName, MAX_PATH)));
}

RemoteEntry entryOf(const wininet::WIN32_FIND_DATA& record)
{
    return RemoteEntry{recordName(record), record.dwFileAttributes == FILE_ATTRIBUTE_DIRECTORY};
}

QString outcome(const std::optional<FtpFailure>& failure)
{
    return failure ? QStringLiteral("failed ") + FtpSession::describe(*failure) : QStringLiteral("ok");
}

} // namespace

FtpSession::~FtpSession()
{
    close();
}

std::optional<FtpFailure> FtpSession::openInternet(const QString& proxy)
{
    const QByteArray proxyName = proxy.toLocal8Bit();
    if (!proxyName.isEmpty())
        m_internet = InternetOpenA("vb wininet", INTERNET_OPEN_TYPE_PROXY, proxyName.constData(), nullptr, 0);
    else
        m_internet = InternetOpenA("vb wininet", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    if (m_internet == 0)
        return lastFailure("InternetOpen");
    return std::nullopt;
}

std::optional<FtpFailure> FtpSession::connect(const QString& server, const QString& user, const QString& password,
                                              bool passive)
{
    // Whatever reports on this session later (a reply, libcurl's words) must not carry it.
    eventlog::addSecret(password);
    const std::int32_t flags = passive ? INTERNET_FLAG_PASSIVE : 0;
    QElapsedTimer watch;
    watch.start();
    m_ftp = InternetConnectA(m_internet, server.toLocal8Bit().constData(), 0, user.toLocal8Bit().constData(),
                             password.toLocal8Bit().constData(), INTERNET_SERVICE_FTP, flags, 0);
    std::optional<FtpFailure> failure;
    if (m_ftp == 0)
        failure = lastFailure("InternetConnect");
    m_directUploads = false;
    m_server = server;
    m_folder.clear();
    QString event =
        QStringLiteral("connect: server=%1 user=%2 passive=%3 result=%4 took=%5")
            .arg(eventlog::quote(server), eventlog::quote(user), passive ? QStringLiteral("yes") : QStringLiteral("no"),
                 outcome(failure), eventlog::took(watch));
    // Nobody was asked about a server never seen before: the log keeps what was taken.
    if (const auto recorded = lastOfferedIdentity();
        !failure && recorded && recorded->standing == ServerIdentity::Standing::RecordedNew)
        event += QStringLiteral(" hostkey=%1 recorded in %2")
                     .arg(eventlog::quote(describeIdentity(*recorded)), QLatin1String(kKnownHostsFile));
    failure ? eventlog::warning(event) : eventlog::info(event);
    return failure;
}

void FtpSession::disconnect()
{
    if (m_ftp != 0) {
        QElapsedTimer watch;
        watch.start();
        InternetCloseHandle(m_ftp);
        eventlog::info(
            QStringLiteral("disconnect: server=%1 took=%2").arg(eventlog::quote(m_server), eventlog::took(watch)));
    }
    m_ftp = 0;
}

void FtpSession::close()
{
    disconnect();
    if (m_internet != 0)
        InternetCloseHandle(m_internet);
    m_internet = 0;
}

std::optional<FtpFailure> FtpSession::changeFolder(const QString& folder)
{
    QElapsedTimer watch;
    watch.start();
    if (FtpSetCurrentDirectoryA(m_ftp, folder.toLocal8Bit().constData())) {
        m_folder = folder;
        return std::nullopt;
    }
    std::optional<FtpFailure> failure = lastFailure("FtpSetCurrentDirectory");
    eventlog::warning(
        QStringLiteral("change folder: server=%1 folder=%2 result=%3 took=%4")
            .arg(eventlog::quote(m_server), eventlog::quote(folder), outcome(failure), eventlog::took(watch)));
    return failure;
}

ListResult FtpSession::list()
{
    ListResult result;
    wininet::WIN32_FIND_DATA record;
    std::memset(record.cFileName, 0, sizeof record.cFileName);
    const HINTERNET find = FtpFindFirstFileA(m_ftp, "*.*", &record, 0, 0);
    if (find == 0) {
        if (wininet::GetLastError() == ERROR_NO_MORE_FILES) {
            result.empty = true;
            return result;
        }
        result.failure = lastFailure("FtpFindFirstFile");
        eventlog::warning(QStringLiteral("list: server=%1 folder=%2 result=%3")
                              .arg(eventlog::quote(m_server), eventlog::quote(m_folder), outcome(result.failure)));
        return result;
    }
    result.entries.append(entryOf(record));
    for (;;) {
        std::memset(record.cFileName, 0, sizeof record.cFileName);
        if (!InternetFindNextFileA(find, &record))
            break;
        result.entries.append(entryOf(record));
    }
    if (wininet::GetLastError() != ERROR_NO_MORE_FILES) {
        result.failure = lastFailure("InternetFindNextFile");
        eventlog::warning(QStringLiteral("list: server=%1 folder=%2 entries=%3 result=%4")
                              .arg(eventlog::quote(m_server), eventlog::quote(m_folder))
                              .arg(result.entries.size())
                              .arg(outcome(result.failure)));
    }
    InternetCloseHandle(find);
    return result;
}

QString FtpSession::temporaryName(const QString& remoteName)
{
    // One fixed name per image: a cut-short upload leaves at most this one file behind,
    // and the next upload of the same image replaces it.
    return remoteName + QStringLiteral(".part");
}

std::optional<FtpFailure> FtpSession::putDirect(const QByteArray& localFile, const QByteArray& remoteName,
                                                std::int32_t transferType, bool finalName)
{
    if (FtpPutFileA(m_ftp, localFile.constData(), remoteName.constData(), transferType, 0))
        return std::nullopt;
    FtpFailure failure = lastFailure("FtpPutFile");
    if (finalName && lastUploadBegan())
        eventlog::warning(QStringLiteral("upload: %1 was cut short under its final name; the server may keep it "
                                         "incomplete until the next upload")
                              .arg(eventlog::quote(QString::fromLocal8Bit(remoteName))));
    return failure;
}

void FtpSession::uploadDirectlyFromNowOn(const char* why)
{
    m_directUploads = true;
    eventlog::warning(QStringLiteral("upload: the server %1; files go straight to their final names for the rest of "
                                     "this session")
                          .arg(QLatin1String(why)));
}

std::optional<FtpFailure> FtpSession::putFile(const QString& localFile, const QString& remoteName,
                                              std::int32_t transferType)
{
    QElapsedTimer watch;
    watch.start();
    const QFileInfo local(localFile);
    if (local.isFile() && local.size() == 0) {
        // A camera or generator that crashed while writing leaves the image empty; sent,
        // it would replace the good one on the server.
        eventlog::warning(QStringLiteral("upload: file=%1 folder=%2 server=%3 local=%4 bytes=0 result=not sent: the "
                                         "image is empty")
                              .arg(eventlog::quote(remoteName), eventlog::quote(m_folder), eventlog::quote(m_server),
                                   eventlog::quote(localFile)));
        return FtpFailure{ERROR_HANDLE_EOF, QStringLiteral("FtpPutFile"), {}, {}};
    }
    std::optional<FtpFailure> failure = putAtomically(localFile, remoteName, transferType);
    const QString event =
        QStringLiteral("upload: file=%1 folder=%2 server=%3 local=%4 bytes=%5 result=%6 took=%7")
            .arg(eventlog::quote(remoteName), eventlog::quote(m_folder), eventlog::quote(m_server),
                 eventlog::quote(localFile), local.exists() ? QString::number(local.size()) : QStringLiteral("none"),
                 outcome(failure), eventlog::took(watch));
    failure ? eventlog::warning(event) : eventlog::info(event);
    return failure;
}

namespace {

// Replies that refuse a name as such: a server that will not store a file called
// "x.jpg.part" (550, 553), or has no rename to offer (500, 502, 504 as well). Anything
// else (a full disk, a dropped link) is a failure of this upload, not of the method.
bool refusesTheName(const ServerReply& reply, std::initializer_list<int> codes)
{
    return std::find(codes.begin(), codes.end(), reply.code) != codes.end();
}

} // namespace

std::optional<FtpFailure> FtpSession::putAtomically(const QString& localFile, const QString& remoteName,
                                                    std::int32_t transferType)
{
    // The local name travels as UTF-8 and is opened in wide characters on Windows, where
    // the ANSI code page cannot spell every folder; the server's names stay as they were.
    const QByteArray local = localFile.toUtf8();
    const QByteArray remote = remoteName.toLocal8Bit();
    if (m_directUploads)
        return putDirect(local, remote, transferType, true);

    const QByteArray temporary = temporaryName(remoteName).toLocal8Bit();
    if (const std::optional<FtpFailure> stored = putDirect(local, temporary, transferType, false)) {
        const FtpFailure& failure = *stored;
        const bool began = lastUploadBegan();
        if (failure.code == ERROR_INTERNET_EXTENDED_ERROR && !began && refusesTheName(failure.reply, {550, 553})) {
            // Refused before a byte went: the name itself is not allowed here, and the
            // final name is all this server will take.
            auto direct = putDirect(local, remote, transferType, true);
            if (!direct)
                uploadDirectlyFromNowOn("refused an upload under a temporary name");
            return direct;
        }
        // The transfer failed (a full disk, a dropped connection, a stall): the final
        // name keeps the complete file it had. A server that answered gets the part
        // that arrived taken away; over a lost connection it waits for the next upload
        // to replace it.
        if (failure.code == ERROR_INTERNET_EXTENDED_ERROR && began)
            FtpDeleteFileA(m_ftp, temporary.constData());
        eventlog::warning(QStringLiteral("upload: %1 failed while under its temporary name; %2 on the server is left "
                                         "as it was")
                              .arg(eventlog::quote(remoteName), eventlog::quote(remoteName)));
        return failure;
    }
    // The whole image is on the server: an end now waits for the rename (on some servers
    // a removal of the old image and a rename) rather than cut it in half. The rename
    // alone: what may follow it (a store straight under the final name) is cut short as
    // any transfer is.
    const bool renamed = [&] {
        const Cancellation::Finishing finishing(threadCancellation());
        return FtpRenameFileA(m_ftp, temporary.constData(), remote.constData());
    }();
    if (!renamed) {
        const FtpFailure failure = lastFailure("FtpRenameFile");
        if (failure.code != ERROR_INTERNET_EXTENDED_ERROR ||
            !refusesTheName(failure.reply, {500, 502, 504, 550, 553})) {
            FtpFailure asUpload = failure;
            asUpload.call = QStringLiteral("FtpPutFile");
            return asUpload;
        }
        FtpDeleteFileA(m_ftp, temporary.constData());
        auto direct = putDirect(local, remote, transferType, true);
        if (!direct)
            uploadDirectlyFromNowOn("refused to rename an uploaded file over its final name");
        return direct;
    }
    return std::nullopt;
}

QString FtpSession::describe(const FtpFailure& failure)
{
    const ServerReply& reply = failure.reply;
    QString text =
        QStringLiteral("call=%1 code=%2 %3 libcurl=%4 reply=%5")
            .arg(failure.call)
            .arg(failure.code)
            .arg(QLatin1String(errorName(failure.code)), eventlog::quoteOutside(failure.libraryText),
                 eventlog::quoteOutside(reply.text.isEmpty() && reply.code ? QString::number(reply.code) : reply.text));
    if (failure.offered)
        text += QStringLiteral(" offered=") + eventlog::quote(describeIdentity(*failure.offered));
    return text;
}

QString FtpSession::brief(const FtpFailure& failure)
{
    if (failure.reply.code != 0) {
        // The reply's last line, which says what the server made of the command, without
        // the code the text repeats.
        QString text = eventlog::withoutSecrets(failure.reply.text.split(QLatin1Char('\n')).last().trimmed());
        const QString code = QString::number(failure.reply.code);
        if (text.startsWith(code))
            text = text.mid(code.size()).trimmed();
        return QStringLiteral("%1 %2 %3").arg(failure.call, code, text).trimmed();
    }
    return QStringLiteral("%1 %2").arg(failure.call, QLatin1String(errorName(failure.code)));
}

void FtpSession::useTrustFolder(const QString& folder)
{
    setTrustFolder(folder.toStdString());
}

std::optional<ServerIdentity> FtpSession::lookAtHostKey(const QString& server)
{
    const auto address = parseServerAddress(server.toLocal8Bit().toStdString(), 0, INTERNET_DEFAULT_FTP_PORT);
    if (!address || address->scheme != Scheme::Sftp)
        return std::nullopt;
    std::string why;
    std::optional<ServerIdentity> offered = ::lookAtHostKey(*address, &why);
    if (offered)
        eventlog::info(QStringLiteral("trust: server=%1 offers %2, %3")
                           .arg(eventlog::quote(server), eventlog::quote(describeIdentity(*offered)),
                                offered->standing == ServerIdentity::Standing::New
                                    ? QStringLiteral("a key not yet in known_hosts")
                                    : QStringLiteral("not the key known_hosts holds")));
    else if (!why.empty())
        eventlog::info(QStringLiteral("trust: server=%1 host key not seen: %2")
                           .arg(eventlog::quote(server), eventlog::quoteOutside(QString::fromStdString(why))));
    return offered;
}
