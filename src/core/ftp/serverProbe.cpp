#include "core/ftp/serverProbe.h"

#include "core/ftp/cancellation.h"
#include "core/ftp/ftpConnection.h"
#include "core/ftp/secureOptions.h"

#include <QList>

#include <curl/curl.h>
#ifdef _WIN32
#define SECURITY_WIN32
#include <schannel.h>
#include <security.h>
#include <wincrypt.h>
#endif

#include <cstring>
#include <memory>
#include <string_view>

namespace {

struct CurlDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
using CurlPtr = std::unique_ptr<CURL, CurlDeleter>;

// A request that reaches the server on its own: the session's bounds, no proxy from the
// environment, and the thread's cancellation.
CurlPtr probeHandle(const std::string& url, const std::shared_ptr<Cancellation>& cancel, char* errorText)
{
    CurlPtr curl(curl_easy_init());
    if (!curl)
        return nullptr;
    CURL* c = curl.get();
    const FtpBounds bounds = ftpBounds();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(c, CURLOPT_PROXY, "");
    setRequestBasics(c, bounds.connectSeconds, cancel.get());
    curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, bounds.responseSeconds);
    return curl;
}

// The server certificate of a Schannel TLS context (CURLINFO_TLS_SSL_PTR), in DER;
// empty from any other TLS library.
#ifdef _WIN32
QByteArray schannelServerCertificate(const curl_tlssessioninfo& tls)
{
    if (tls.backend != CURLSSLBACKEND_SCHANNEL || !tls.internals)
        return {};
    PCCERT_CONTEXT certificate = nullptr;
    if (QueryContextAttributesW(static_cast<PCtxtHandle>(tls.internals), SECPKG_ATTR_REMOTE_CERT_CONTEXT,
                                &certificate) != SEC_E_OK ||
        !certificate)
        return {};
    QByteArray der(reinterpret_cast<const char*>(certificate->pbCertEncoded),
                   static_cast<qsizetype>(certificate->cbCertEncoded));
    CertFreeCertificateContext(certificate);
    return der;
}
#else
QByteArray schannelServerCertificate(const curl_tlssessioninfo&)
{
    return {};
}
#endif

// The TLS library's own way to the certificate of a handshake that libcurl has just
// refused for its pin. OpenSSL: libcurl keeps the chain (CURLOPT_CERTINFO) before it
// checks the pin. Schannel checks the pin first and reads no chain after a refusal, but
// while libcurl says so (a line for CURLOPT_DEBUGFUNCTION) the TLS context is whole, and
// Windows gives its server certificate.
constexpr std::string_view kPinRefused = "SSL: public key does not match pinned public key";

struct Fetch {
    QList<QByteArray> chain; // PEM texts, or the server's own certificate in DER (Schannel)
    bool der = false;

    static int onDebug(CURL* curl, curl_infotype type, char* data, size_t size, void* self)
    {
        auto* fetch = static_cast<Fetch*>(self);
        if (type != CURLINFO_TEXT || !fetch->chain.isEmpty() || !std::string_view(data, size).starts_with(kPinRefused))
            return 0;
        curl_tlssessioninfo* tls = nullptr;
        if (curl_easy_getinfo(curl, CURLINFO_TLS_SSL_PTR, &tls) != CURLE_OK || !tls)
            return 0;
        const QByteArray der = schannelServerCertificate(*tls);
        if (!der.isEmpty()) {
            fetch->chain << der;
            fetch->der = true;
        }
        return 0;
    }
};

} // namespace

std::optional<Certificate> fetchCertificate(const ServerAddress& server, std::string* why)
{
    // The login's own kind of connection (AUTH TLS first for ftpes), refused by libcurl
    // once the handshake is over, before USER: nothing is checked but a pin that no key
    // has.
    char errorText[CURL_ERROR_SIZE] = {};
    CurlPtr curl = probeHandle(ftpServerUrl(server), threadCancellation(), errorText);
    if (!curl) {
        *why = "libcurl made no handle";
        return std::nullopt;
    }
    CURL* c = curl.get();
    static const std::string noKey = "sha256//" + QByteArray(32, '\0').toBase64().toStdString();
    Fetch fetch;
    curl_easy_setopt(c, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
    curl_easy_setopt(c, CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS));
    curl_easy_setopt(c, CURLOPT_SSLVERSION,
                     static_cast<long>(CURL_SSLVERSION_TLSv1_2) | static_cast<long>(CURL_SSLVERSION_MAX_TLSv1_2));
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(c, CURLOPT_PINNEDPUBLICKEY, noKey.c_str());
    curl_easy_setopt(c, CURLOPT_CERTINFO, 1L);
    curl_easy_setopt(c, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, &Fetch::onDebug);
    curl_easy_setopt(c, CURLOPT_DEBUGDATA, &fetch);
    curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
    const CURLcode rc = curl_easy_perform(c);
    if (rc != CURLE_SSL_PINNEDPUBKEYNOTMATCH) {
        *why = rc == CURLE_OK ? std::string("the server took a key no certificate has")
                              : std::string(errorText[0] ? errorText : curl_easy_strerror(rc));
        return std::nullopt;
    }
    curl_certinfo* info = nullptr;
    if (fetch.chain.isEmpty() && curl_easy_getinfo(c, CURLINFO_CERTINFO, &info) == CURLE_OK && info) {
        for (int i = 0; i < info->num_of_certs; ++i)
            for (const curl_slist* field = info->certinfo[i]; field; field = field->next)
                if (std::strncmp(field->data, "Cert:", 5) == 0)
                    fetch.chain << QByteArray(field->data + 5);
    }
    auto certificate = fetch.der ? readCertificate(fetch.chain.first()) : serverCertificate(fetch.chain);
    if (!certificate)
        *why = fetch.chain.isEmpty() ? "the TLS library gave no certificate" : "the certificate could not be read";
    return certificate;
}

std::optional<ServerIdentity> lookAtHostKey(const ServerAddress& server, std::string* why)
{
    SecureChannel channel(server, SecureChannel::HostKeyPolicy::LookOnly);
    char errorText[CURL_ERROR_SIZE] = {};
    CurlPtr curl = probeHandle(ftpServerUrl(server), threadCancellation(), errorText);
    if (!curl) {
        *why = "libcurl made no handle";
        return std::nullopt;
    }
    channel.apply(curl.get(), ftpBounds().stallSeconds);
    // The channel's stall check takes the progress callback; the cancellation's sockets
    // still end the key exchange at once.
    curl_easy_setopt(curl.get(), CURLOPT_NOBODY, 1L);
    const CURLcode rc = curl_easy_perform(curl.get());
    why->clear();
    if (channel.hostKeyKnown())
        return std::nullopt;
    if (!channel.offeredHostKey())
        *why = errorText[0] ? errorText : curl_easy_strerror(rc);
    return channel.offeredHostKey();
}
