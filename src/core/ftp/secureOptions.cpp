#include "core/ftp/secureOptions.h"

#include "core/base/fileName.h"
#include "core/ftp/knownHosts.h"
#include "core/ftp/trustFile.h"

#include <QByteArray>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <mutex>

namespace {

std::mutex g_trustMutex;
std::string g_trustFolder;

// OpenSSL's certificate verification results (X509_V_ERR_*), as libcurl reports them.
constexpr long kVerifyOk = 0;
constexpr long kVerifyUnspecified = 1; // libcurl's value before the chain was looked at
constexpr long kCertNotYetValid = 9;
constexpr long kCertHasExpired = 10;
constexpr long kHostnameMismatch = 62;
constexpr long kIpAddressMismatch = 64;

bool tlsIsOpenSsl()
{
    const auto* info = curl_version_info(CURLVERSION_NOW);
    return info && info->ssl_version && std::string_view(info->ssl_version).starts_with("OpenSSL");
}

bool contains(std::string_view text, std::string_view what)
{
    return text.find(what) != std::string_view::npos;
}

FailureReason certificateError(CURL* curl, std::string_view reason)
{
    if (tlsIsOpenSsl()) {
        long result = kVerifyUnspecified;
        curl_easy_getinfo(curl, CURLINFO_SSL_VERIFYRESULT, &result);
        if (result == kCertHasExpired || result == kCertNotYetValid)
            return FailureReason::CertificateDate;
        // libcurl checks the host name itself, before it reads the chain's result: a
        // refusal with the chain unread or good can only be the name.
        if (result == kHostnameMismatch || result == kIpAddressMismatch || result == kVerifyOk ||
            result == kVerifyUnspecified)
            return FailureReason::CertificateName;
        return FailureReason::UnknownAuthority;
    }
    // Other TLS libraries report their own numbers; their texts are all there is.
    if (contains(reason, "expired") || contains(reason, "EXPIRED") || contains(reason, "not yet valid"))
        return FailureReason::CertificateDate;
    if (contains(reason, "name") || contains(reason, "PRINCIPAL"))
        return FailureReason::CertificateName;
    return FailureReason::UnknownAuthority;
}

// The key type's name is the first field of an SSH public key blob.
std::string keyTypeOf(const QByteArray& blob, curl_khtype type)
{
    if (blob.size() >= 4) {
        const auto* b = reinterpret_cast<const unsigned char*>(blob.constData());
        const std::uint32_t n = (std::uint32_t(b[0]) << 24) | (std::uint32_t(b[1]) << 16) | (std::uint32_t(b[2]) << 8) |
                                std::uint32_t(b[3]);
        if (n > 0 && n <= 64 && n <= std::uint32_t(blob.size() - 4)) {
            std::string name(blob.constData() + 4, n);
            bool printable = true;
            for (unsigned char c : name)
                printable = printable && std::isgraph(c);
            if (printable)
                return name;
        }
    }
    switch (type) {
    case CURLKHTYPE_RSA:
        return "ssh-rsa";
    case CURLKHTYPE_DSS:
        return "ssh-dss";
    case CURLKHTYPE_ED25519:
        return "ssh-ed25519";
    default:
        return {}; // ECDSA: the curve is in the blob only
    }
}

QByteArray keyBlob(const curl_khkey& key)
{
    if (!key.key)
        return {};
    if (key.len == 0) // libcurl's other form: base64, zero-terminated
        return QByteArray::fromBase64(QByteArray(key.key));
    return QByteArray(key.key, static_cast<qsizetype>(key.len));
}

// When a file was last seen changed: its size and time, or nothing for a missing file.
struct FileStamp {
    std::uintmax_t size = 0;
    std::filesystem::file_time_type time{};
    bool present = false;
    bool operator==(const FileStamp&) const = default;
};

FileStamp stampOf(const std::string& path)
{
    std::error_code ec;
    FileStamp stamp;
    stamp.size = std::filesystem::file_size(filename::path(path), ec);
    if (ec)
        return {};
    stamp.time = std::filesystem::last_write_time(filename::path(path), ec);
    stamp.present = !ec;
    return stamp;
}

std::string contentsOf(const std::string& path)
{
    std::string text;
    if (std::FILE* f = filename::open(path, "rb")) {
        char buffer[8192];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
            text.append(buffer, n);
        std::fclose(f);
    }
    return text;
}

// On Windows the CA file always goes in as text: libcurl opens a CA file by its name in
// the ANSI code page, which cannot spell every folder.
#ifdef _WIN32
constexpr bool kCaFileByName = false;
constexpr const char* kNullDevice = "NUL";
#else
constexpr bool kCaFileByName = true;
constexpr const char* kNullDevice = "/dev/null";
#endif

} // namespace

std::shared_ptr<const std::string> trustedCertificates(const std::string& systemBundle, const std::string& own)
{
    struct Cache {
        std::mutex mutex;
        std::string systemBundle, own;
        FileStamp systemStamp, ownStamp;
        std::shared_ptr<const std::string> both;
    };
    static Cache cache;
    const FileStamp systemStamp = stampOf(systemBundle);
    const FileStamp ownStamp = stampOf(own);
    const std::lock_guard lock(cache.mutex);
    if (cache.both && cache.systemBundle == systemBundle && cache.own == own && cache.systemStamp == systemStamp &&
        cache.ownStamp == ownStamp)
        return cache.both;
    cache.systemBundle = systemBundle;
    cache.own = own;
    cache.systemStamp = systemStamp;
    cache.ownStamp = ownStamp;
    cache.both = std::make_shared<const std::string>(contentsOf(systemBundle) + '\n' + contentsOf(own) + '\n');
    return cache.both;
}

void setTrustFolder(const std::string& folder)
{
    std::lock_guard lock(g_trustMutex);
    g_trustFolder = folder;
}

std::string trustFolder()
{
    std::lock_guard lock(g_trustMutex);
    return g_trustFolder;
}

std::string sftpQuoted(std::string_view path)
{
    std::string out = "\"";
    for (char c : path) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

SecureChannel::SecureChannel(const ServerAddress& server, HostKeyPolicy policy) : m_server(server), m_policy(policy) {}

std::string SecureChannel::knownHostsName() const
{
    // The name as libcurl hands it to libssh2: lower case (the URL's host is), without
    // an IPv6 zone.
    return ::knownHostsName(m_server);
}

void applyTrustedCertificates(CURL* curl)
{
    const std::string folder = trustFolder();
    // The system store is libcurl's default bundle and its CA folder (Debian:
    // /etc/ssl/certs), as far as they are there: a minimal machine may have neither,
    // and a default that names a missing file fails every connect with "error
    // setting certificate verify locations" instead of refusing just the server
    // nobody vouches for.
    char* defaultPath = nullptr;
    char* defaultBundle = nullptr;
    curl_easy_getinfo(curl, CURLINFO_CAPATH, &defaultPath);
    curl_easy_getinfo(curl, CURLINFO_CAINFO, &defaultBundle);
    std::error_code ec;
    const bool pathThere = defaultPath && *defaultPath && std::filesystem::is_directory(defaultPath, ec);
    const bool bundleThere = defaultBundle && *defaultBundle && std::filesystem::is_regular_file(defaultBundle, ec);
    if (!pathThere)
        curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr);
    if (!bundleThere)
        curl_easy_setopt(curl, CURLOPT_CAINFO, nullptr);
    const std::string ca = trustFilePath(folder, kTrustedCertificatesFile);
    if (ca.empty() || !std::filesystem::exists(filename::path(ca), ec))
        return;
    // Setting the CA file replaces libcurl's default bundle, but not its CA folder,
    // which holds the same system store. Without a CA folder the default bundle and
    // the file go in together.
    if (kCaFileByName && (pathThere || !bundleThere)) {
        curl_easy_setopt(curl, CURLOPT_CAINFO, ca.c_str());
        return;
    }
    const std::shared_ptr<const std::string> both = trustedCertificates(bundleThere ? defaultBundle : "", ca);
    curl_blob blob{const_cast<char*>(both->data()), both->size(), CURL_BLOB_COPY};
    curl_easy_setopt(curl, CURLOPT_CAINFO_BLOB, &blob);
}

void SecureChannel::apply(CURL* curl, long stallSeconds)
{
    const std::string folder = trustFolder();

    if (m_server.scheme == Scheme::Ftpes || m_server.scheme == Scheme::Ftps) {
        // TLS for the login and for every data connection; a server that will not
        // fails the request instead of carrying on in clear text.
        curl_easy_setopt(curl, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
        // RFC 4217 asks for TLS with "AUTH TLS". libcurl's default asks "AUTH SSL"
        // first, the name from the drafts before it, which some servers refuse and
        // others answer with the drafts' rules (data connections protected without
        // PBSZ/PROT); the standard command is the one every current server knows.
        // (When AUTH TLS is refused, libcurl still tries AUTH SSL, never clear text.)
        curl_easy_setopt(curl, CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS));
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
        // Servers such as vsftpd accept a data connection only when it resumes the
        // control connection's TLS session, which proves that both come from the same
        // client.
        curl_easy_setopt(curl, CURLOPT_SSL_SESSIONID_CACHE, 1L);
        // TLS 1.2 only. With TLS 1.3, libcurl 7.88 loses the session on a reused
        // control connection (the next data connection is refused with 522) and can
        // end an upload before the server has read all of it (426, a truncated file):
        // 9 runs in 10 of list and three uploads failed against vsftpd, none with 1.2.
        curl_easy_setopt(curl, CURLOPT_SSLVERSION,
                         static_cast<long>(CURL_SSLVERSION_TLSv1_2) | static_cast<long>(CURL_SSLVERSION_MAX_TLSv1_2));
        // A server the operator trusted by its key is checked by its key alone: the pin
        // is the check, so the authority and the name are not asked about.
        m_pins = pinnedKeysOf(m_server);
        if (!m_pins.empty()) {
            std::string pins;
            for (const PinnedKey& key : m_pins)
                pins += (pins.empty() ? "" : ";") + key.pin;
            curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
            curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
            curl_easy_setopt(curl, CURLOPT_PINNEDPUBLICKEY, pins.c_str());
            return;
        }
        applyTrustedCertificates(curl);
        return;
    }

    if (m_server.scheme != Scheme::Sftp)
        return;
    // Servers that take passwords only through keyboard-interactive get it there.
    curl_easy_setopt(curl, CURLOPT_SSH_AUTH_TYPES, static_cast<long>(CURLSSH_AUTH_PASSWORD | CURLSSH_AUTH_KEYBOARD));
    // The callback only runs with a known_hosts file named, so one is always named,
    // if only an empty one: without a trust folder every key is unknown and cannot be
    // recorded, which refuses the server.
    m_knownHosts = trustFilePath(folder, kKnownHostsFile);
    m_hostKey = HostKey::Unchecked;
    m_hostKeyNote.clear();
    m_offered.reset();
    // libssh2 opens known_hosts by a narrow name. A name it cannot open would read as an
    // empty file and let any key in as new: the null device stands in, and the check
    // refuses every key.
    const std::optional<std::string> forLibssh2 = filename::forNarrowLibrary(m_knownHosts);
    m_knownHostsNamed = forLibssh2.has_value();
    curl_easy_setopt(curl, CURLOPT_SSH_KNOWNHOSTS, forLibssh2.value_or(kNullDevice).c_str());
    curl_easy_setopt(curl, CURLOPT_SSH_KEYFUNCTION, &SecureChannel::onHostKey);
    curl_easy_setopt(curl, CURLOPT_SSH_KEYDATA, this);

    m_stallSeconds = stallSeconds;
    m_stalled = false;
    m_lastBytes = -1;
    m_lastMove = std::chrono::steady_clock::now();
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &SecureChannel::onProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
}

int SecureChannel::onHostKey(CURL*, const curl_khkey* known, const curl_khkey* found, curl_khmatch match, void* clientp)
{
    auto* self = static_cast<SecureChannel*>(clientp);
    const QByteArray blob = found ? keyBlob(*found) : QByteArray();
    if (!self->m_knownHostsNamed) {
        self->m_hostKey = HostKey::NotRecorded;
        self->m_hostKeyNote = "libssh2 cannot open " + self->m_knownHosts +
                              " by a name in this system's code page, so the host key of " + self->knownHostsName() +
                              " cannot be checked";
        return CURLKHSTAT_REJECT;
    }
    if (found) {
        ServerIdentity offered;
        offered.kind = ServerIdentity::Kind::HostKey;
        offered.server = self->m_server;
        offered.keyType = QString::fromStdString(keyTypeOf(blob, found->keytype));
        offered.key = blob;
        offered.fingerprint = hostKeyFingerprint(blob);
        if (match == CURLKHMATCH_MISSING) {
            offered.standing = ServerIdentity::Standing::New;
        } else if (match != CURLKHMATCH_OK) {
            offered.standing = ServerIdentity::Standing::Changed;
            const QByteArray recorded = known ? keyBlob(*known) : QByteArray();
            offered.trustedFingerprint = recorded.isEmpty() ? QStringLiteral("?") : hostKeyFingerprint(recorded);
        }
        if (match != CURLKHMATCH_OK)
            self->m_offered = offered;
    }
    switch (match) {
    case CURLKHMATCH_OK:
        self->m_hostKey = HostKey::Known;
        return self->m_policy == HostKeyPolicy::LookOnly ? CURLKHSTAT_REJECT : CURLKHSTAT_FINE;
    case CURLKHMATCH_MISSING:
        if (self->m_policy == HostKeyPolicy::LookOnly) {
            self->m_hostKey = HostKey::NotRecorded;
            return CURLKHSTAT_REJECT;
        }
        // libcurl could add the line itself, but without the port, which OpenSSH
        // reads as the server on port 22.
        if (found && self->record(*found)) {
            self->m_hostKey = HostKey::Recorded;
            self->m_offered->standing = ServerIdentity::Standing::RecordedNew;
            return CURLKHSTAT_FINE;
        }
        self->m_hostKey = HostKey::NotRecorded;
        return CURLKHSTAT_REJECT;
    default:
        self->m_hostKey = HostKey::Changed;
        self->m_hostKeyNote = "host key of " + self->knownHostsName() + " differs from the one in " + kKnownHostsFile +
                              " (the server offers " +
                              (found ? keyTypeOf(blob, found->keytype) + " " + hostKeyFingerprint(blob).toStdString()
                                     : std::string("?")) +
                              ")";
        return CURLKHSTAT_REJECT;
    }
}

bool SecureChannel::record(const curl_khkey& key)
{
    if (m_knownHosts.empty()) {
        m_hostKeyNote = std::string("no folder to keep ") + kKnownHostsFile + " in, so the host key of " +
                        knownHostsName() + " cannot be recorded";
        return false;
    }
    const QByteArray blob = keyBlob(key);
    const std::string type = keyTypeOf(blob, key.keytype);
    if (blob.isEmpty() || type.empty()) {
        m_hostKeyNote = "host key of " + knownHostsName() + " is of a type that cannot be recorded";
        return false;
    }
    // A last line without its line end would swallow the new one.
    bool newlineFirst = false;
    if (std::FILE* existing = filename::open(m_knownHosts, "rb")) {
        if (std::fseek(existing, -1, SEEK_END) == 0)
            newlineFirst = std::fgetc(existing) != '\n';
        std::fclose(existing);
    }
    const std::string line = std::string(newlineFirst ? "\n" : "") + hostKeyLine(knownHostsName(), type, blob) + "\n";
    std::FILE* f = filename::open(m_knownHosts, "ab");
    bool ok = f && std::fwrite(line.data(), 1, line.size(), f) == line.size();
    if (f)
        ok = std::fclose(f) == 0 && ok;
    if (!ok)
        m_hostKeyNote = "cannot write " + m_knownHosts + " to record the host key of " + knownHostsName();
    return ok;
}

int SecureChannel::onProgress(void* clientp, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow)
{
    auto* self = static_cast<SecureChannel*>(clientp);
    const auto now = std::chrono::steady_clock::now();
    const curl_off_t bytes = dlnow + ulnow;
    if (bytes != self->m_lastBytes) {
        self->m_lastBytes = bytes;
        self->m_lastMove = now;
        return 0;
    }
    if (self->m_stallSeconds > 0 && now - self->m_lastMove >= std::chrono::seconds(self->m_stallSeconds)) {
        self->m_stalled = true;
        return 1;
    }
    return 0;
}

std::optional<SecureFailure> SecureChannel::failure(CURL* curl, CURLcode rc, std::string_view libraryText) const
{
    if (rc == CURLE_OK || m_server.scheme == Scheme::Ftp)
        return std::nullopt;
    const std::string reason = !libraryText.empty() ? std::string(libraryText) : std::string(curl_easy_strerror(rc));

    if (m_server.scheme == Scheme::Sftp) {
        switch (rc) {
        case CURLE_ABORTED_BY_CALLBACK:
            if (!m_stalled)
                return std::nullopt;
            return SecureFailure{FailureReason::Stalled, 0,
                                 "no answer from the SSH server for " + std::to_string(m_stallSeconds) + " s"};
        case CURLE_PEER_FAILED_VERIFICATION:
            return SecureFailure{m_hostKey == HostKey::NotRecorded ? FailureReason::Channel
                                                                   : FailureReason::HostKeyChanged,
                                 0, m_hostKeyNote.empty() ? reason : m_hostKeyNote};
        case CURLE_LOGIN_DENIED:
        case CURLE_AUTH_ERROR:
            return SecureFailure{FailureReason::LoginRefused, 530, reason};
        case CURLE_REMOTE_ACCESS_DENIED:
        case CURLE_REMOTE_FILE_NOT_FOUND:
        case CURLE_QUOTE_ERROR:
        case CURLE_UPLOAD_FAILED:
        case CURLE_REMOTE_DISK_FULL:
        case CURLE_REMOTE_FILE_EXISTS:
        case CURLE_SSH:
            return SecureFailure{FailureReason::Refused, 550, reason};
        case CURLE_FAILED_INIT:
            return SecureFailure{FailureReason::Channel, 0, reason};
        default:
            return std::nullopt;
        }
    }

    switch (rc) {
    case CURLE_PEER_FAILED_VERIFICATION:
        return SecureFailure{certificateError(curl, reason), 0, reason};
    case CURLE_SSL_CACERT_BADFILE:
        return SecureFailure{FailureReason::UnknownAuthority, 0, reason};
    case CURLE_USE_SSL_FAILED:
        return SecureFailure{FailureReason::Channel, 0,
                             !libraryText.empty() ? reason : std::string("the server refused TLS (AUTH TLS)")};
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        if (m_pins.empty())
            return SecureFailure{FailureReason::Channel, 0, reason};
        return SecureFailure{FailureReason::HostKeyChanged, 0,
                             "the key of " + pinnedKeyName(m_server) +
                                 "'s certificate differs from the one pinned in " + kPinnedKeysFile};
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return SecureFailure{FailureReason::Channel, 0, reason};
    default:
        return std::nullopt;
    }
}
