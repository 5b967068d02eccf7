#include "ftp/ftpSession.h"

#include "ftp/modWinInet.h"

#include <cstring>
#include <string>

namespace {

FtpFailure lastFailure(const char* call)
{
    return FtpFailure{GetLastError(), QString::fromLatin1(call)};
}

QString recordName(const WIN32_FIND_DATA& record)
{
    return QString::fromLocal8Bit(record.cFileName, static_cast<qsizetype>(strnlen(record.cFileName, MAX_PATH)));
}

RemoteEntry entryOf(const WIN32_FIND_DATA& record)
{
    return RemoteEntry{recordName(record), record.dwFileAttributes == FILE_ATTRIBUTE_DIRECTORY};
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
    const std::int32_t flags = passive ? INTERNET_FLAG_PASSIVE : 0;
    m_ftp = InternetConnectA(m_internet, server.toLocal8Bit().constData(), 0, user.toLocal8Bit().constData(),
                             password.toLocal8Bit().constData(), INTERNET_SERVICE_FTP, flags, 0);
    if (m_ftp == 0) {
        const FtpFailure failure = lastFailure("InternetConnect");
        m_connected = false;
        return failure;
    }
    m_connected = true;
    return std::nullopt;
}

void FtpSession::disconnect()
{
    if (m_ftp != 0)
        InternetCloseHandle(m_ftp);
    m_ftp = 0;
    m_listing.clear();
    m_connected = false;
}

void FtpSession::close()
{
    if (m_ftp != 0)
        InternetCloseHandle(m_ftp);
    if (m_internet != 0)
        InternetCloseHandle(m_internet);
    m_ftp = 0;
    m_internet = 0;
    m_connected = false;
    m_listing.clear();
}

bool FtpSession::changeFolder(const QString& folder)
{
    return FtpSetCurrentDirectoryA(m_ftp, folder.toLocal8Bit().constData());
}

ListResult FtpSession::list()
{
    m_listing.clear();
    WIN32_FIND_DATA record;
    std::memset(record.cFileName, 0, sizeof record.cFileName);
    const HINTERNET find = FtpFindFirstFileA(m_ftp, "*.*", &record, 0, 0);
    if (find == 0) {
        if (GetLastError() == ERROR_NO_MORE_FILES)
            return ListResult{true, std::nullopt};
        return ListResult{false, lastFailure("FtpFindFirstFile")};
    }
    m_listing.append(entryOf(record));
    for (;;) {
        std::memset(record.cFileName, 0, sizeof record.cFileName);
        if (!InternetFindNextFileA(find, &record))
            break;
        m_listing.append(entryOf(record));
    }
    ListResult result;
    if (GetLastError() != ERROR_NO_MORE_FILES)
        result.failure = lastFailure("InternetFindNextFile");
    InternetCloseHandle(find);
    return result;
}

std::optional<FtpFailure> FtpSession::putFile(const QString& localFile, const QString& remoteName,
                                              std::int32_t transferType)
{
    if (!FtpPutFileA(m_ftp, localFile.toLocal8Bit().constData(), remoteName.toLocal8Bit().constData(), transferType,
                     0))
        return lastFailure("FtpPutFile");
    return std::nullopt;
}

FtpReply FtpSession::lastReply()
{
    std::int32_t code = 0;
    std::int32_t length = 0;
    InternetGetLastResponseInfoA(&code, nullptr, &length);
    std::string buffer(static_cast<size_t>(length < 0 ? 0 : length) + 1, '\0');
    InternetGetLastResponseInfoA(&code, buffer.data(), &length);
    return FtpReply{code, QString::fromLocal8Bit(buffer.c_str())};
}
