#include "core/ftp/serverProbe.h"

#include "core/ftp/cancellation.h"
#include "core/ftp/ftpConnection.h"
#include "core/ftp/ftpReply.h"
#include "core/ftp/secureOptions.h"

#include <QList>

#include <curl/curl.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

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
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_QUICK_EXIT, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, bounds.connectSeconds);
    curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, bounds.responseSeconds);
    if (cancel)
        cancel->attach(c);
    return curl;
}

// The server's URL under another scheme: "http://host:port/" for a plain connection,
// "https://…" for one that is TLS from the first byte.
std::string urlAs(const ServerAddress& server, const char* scheme)
{
    const std::string url = ftpServerUrl(server);
    return scheme + url.substr(url.find("://"));
}

// Reads one complete reply (past any 1xx) from a plain connection made with
// CURLOPT_CONNECT_ONLY, within the reply bound; code 0 when none came.
FtpReply readReply(CURL* curl, const std::shared_ptr<Cancellation>& cancel)
{
    FtpReplyReader reader;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(ftpBounds().responseSeconds);
    while (std::chrono::steady_clock::now() < until && !(cancel && cancel->cancelled())) {
        char buffer[1024];
        std::size_t got = 0;
        const CURLcode rc = curl_easy_recv(curl, buffer, sizeof buffer, &got);
        if (rc == CURLE_AGAIN) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        if (rc != CURLE_OK || got == 0)
            break;
        reader.feed(std::string_view(buffer, got));
        if (reader.last().code >= 200)
            return reader.last();
        if (reader.last().code != 0)
            reader.reset(); // 1xx: the real reply is still to come
    }
    return {};
}

bool sendLine(CURL* curl, std::string_view line, const std::shared_ptr<Cancellation>& cancel)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(ftpBounds().responseSeconds);
    while (!line.empty() && std::chrono::steady_clock::now() < until && !(cancel && cancel->cancelled())) {
        std::size_t sent = 0;
        const CURLcode rc = curl_easy_send(curl, line.data(), line.size(), &sent);
        if (rc == CURLE_AGAIN) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        if (rc != CURLE_OK)
            return false;
        line.remove_prefix(sent);
    }
    return line.empty();
}

// The plain connection's socket, handed from the request that opened it to the one that
// makes the TLS handshake on it.
struct Handover {
    std::shared_ptr<Cancellation> cancel;
    curl_socket_t keep = CURL_SOCKET_BAD; // the connection's socket, once known
    curl_socket_t kept = CURL_SOCKET_BAD; // kept open when its request let it go
    bool taken = false;

    ~Handover()
    {
        if (kept != CURL_SOCKET_BAD && !taken)
            closeKeptSocket(cancel, kept);
    }

    static int onClose(void* self, curl_socket_t socket)
    {
        auto* h = static_cast<Handover*>(self);
        if (socket == h->keep && h->keep != CURL_SOCKET_BAD) {
            h->kept = socket;
            return 0;
        }
        closeKeptSocket(h->cancel, socket);
        return 0;
    }
    static curl_socket_t onOpen(void* self, curlsocktype, curl_sockaddr*)
    {
        auto* h = static_cast<Handover*>(self);
        if (h->taken || h->kept == CURL_SOCKET_BAD || (h->cancel && h->cancel->cancelled()))
            return CURL_SOCKET_BAD;
        h->taken = true;
        return h->kept;
    }
    static int onSocketOptions(void*, curl_socket_t, curlsocktype) { return CURL_SOCKOPT_ALREADY_CONNECTED; }
};

// A plain connection to an ftpes server that has asked for TLS (AUTH TLS, 234) and is
// left in the handover, with the address it went to; false and *why when the server
// would not.
bool askForTls(const ServerAddress& server, Handover& handover, std::string* address, std::string* why)
{
    char errorText[CURL_ERROR_SIZE] = {};
    CurlPtr plain = probeHandle(urlAs(server, "http"), handover.cancel, errorText);
    if (!plain) {
        *why = "libcurl made no handle";
        return false;
    }
    curl_easy_setopt(plain.get(), CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(plain.get(), CURLOPT_CLOSESOCKETFUNCTION, &Handover::onClose);
    curl_easy_setopt(plain.get(), CURLOPT_CLOSESOCKETDATA, &handover);
    const CURLcode rc = curl_easy_perform(plain.get());
    if (rc != CURLE_OK) {
        *why = errorText[0] ? errorText : curl_easy_strerror(rc);
        return false;
    }
    const FtpReply greeting = readReply(plain.get(), handover.cancel);
    if (greeting.code != 220) {
        *why = "no greeting from the server";
        return false;
    }
    if (!sendLine(plain.get(), "AUTH TLS\r\n", handover.cancel)) {
        *why = "AUTH TLS could not be sent";
        return false;
    }
    const FtpReply answer = readReply(plain.get(), handover.cancel);
    if (answer.code != 234) {
        *why = "the server refused TLS (AUTH TLS): " + std::to_string(answer.code) + " " + answer.text;
        return false;
    }
    curl_socket_t socket = CURL_SOCKET_BAD;
    char* ip = nullptr;
    curl_easy_getinfo(plain.get(), CURLINFO_ACTIVESOCKET, &socket);
    curl_easy_getinfo(plain.get(), CURLINFO_PRIMARY_IP, &ip);
    if (socket == CURL_SOCKET_BAD || !ip) {
        *why = "the connection went";
        return false;
    }
    *address = ip;
    handover.keep = socket;
    plain.reset(); // lets the socket go into the handover
    return handover.kept != CURL_SOCKET_BAD;
}

} // namespace

std::optional<Certificate> fetchCertificate(const ServerAddress& server, std::string* why)
{
    Handover handover;
    handover.cancel = threadCancellation();
    std::string address;
    if (server.scheme == Scheme::Ftpes && !askForTls(server, handover, &address, why))
        return std::nullopt;

    char errorText[CURL_ERROR_SIZE] = {};
    CurlPtr tls = probeHandle(urlAs(server, "https"), handover.cancel, errorText);
    if (!tls) {
        *why = "libcurl made no handle";
        return std::nullopt;
    }
    CURL* c = tls.get();
    curl_slist* resolve = nullptr;
    if (server.scheme == Scheme::Ftpes) {
        // The handshake goes on the connection that asked for it, under the server's own
        // name, so a server with several certificates picks the same one as for a
        // login (SNI).
        curl_easy_setopt(c, CURLOPT_OPENSOCKETFUNCTION, &Handover::onOpen);
        curl_easy_setopt(c, CURLOPT_OPENSOCKETDATA, &handover);
        curl_easy_setopt(c, CURLOPT_SOCKOPTFUNCTION, &Handover::onSocketOptions);
        if (!server.ipv6) {
            const bool v6 = address.find(':') != std::string::npos;
            const std::string entry =
                server.host + ":" + std::to_string(server.port) + ":" + (v6 ? "[" + address + "]" : address);
            resolve = curl_slist_append(nullptr, entry.c_str());
            curl_easy_setopt(c, CURLOPT_RESOLVE, resolve);
        }
    }
    curl_easy_setopt(c, CURLOPT_CONNECT_ONLY, 1L);
    // Nothing is checked: the certificate is only to be read.
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(c, CURLOPT_CERTINFO, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_ENABLE_ALPN, 0L); // an FTP server knows no HTTP
    curl_easy_setopt(c, CURLOPT_SSLVERSION,
                     static_cast<long>(CURL_SSLVERSION_TLSv1_2) | static_cast<long>(CURL_SSLVERSION_MAX_TLSv1_2));
    const CURLcode rc = curl_easy_perform(c);
    curl_certinfo* info = nullptr;
    QList<QByteArray> chain;
    if (rc == CURLE_OK && curl_easy_getinfo(c, CURLINFO_CERTINFO, &info) == CURLE_OK && info) {
        for (int i = 0; i < info->num_of_certs; ++i)
            for (const curl_slist* field = info->certinfo[i]; field; field = field->next)
                if (std::strncmp(field->data, "Cert:", 5) == 0)
                    chain << QByteArray(field->data + 5);
    }
    tls.reset();
    curl_slist_free_all(resolve);
    if (rc != CURLE_OK) {
        *why = errorText[0] ? errorText : curl_easy_strerror(rc);
        return std::nullopt;
    }
    auto certificate = serverCertificate(chain);
    if (!certificate)
        *why = chain.isEmpty() ? "the TLS library gave no certificate" : "the certificate could not be read";
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
