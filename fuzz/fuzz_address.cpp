// Typed server names and folders on their way into libcurl URLs. The danger is not a
// crash but a URL that points somewhere else than the box said: another host or port,
// another folder, or a line break that reaches the control connection. libcurl's own
// URL parser is the judge of what a URL means.
#include "core/ftp/serverAddress.h"

#include "fuzzcheck.h"

#include <arpa/inet.h>
#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace {

struct UrlDeleter {
    void operator()(CURLU* u) const { curl_url_cleanup(u); }
};

std::string part(CURLU* u, CURLUPart which, unsigned flags = 0)
{
    char* out = nullptr;
    if (curl_url_get(u, which, &out, flags) != CURLUE_OK || !out)
        return {};
    std::string s(out);
    curl_free(out);
    return s;
}

// libcurl refuses to decode control characters, which a folder may hold; decoded here.
std::string percentDecode(std::string_view s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            out += static_cast<char>(std::stoi(std::string(s.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

void checkResolved(const std::string& r)
{
    require(!r.empty() && r.front() == '/');
    require(r == "/" || r.back() != '/');
    require(r.find("//") == std::string::npos);
    require(r.find('\\') == std::string::npos);
    require(r.find("/./") == std::string::npos && r.find("/../") == std::string::npos);
    require(!r.ends_with("/.") && !r.ends_with("/.."));
    require(resolveRemotePath("/", r) == r);          // resolving again changes nothing
    require(resolveRemotePath("/elsewhere", r) == r); // absolute: the current folder no longer counts
}

void checkUrl(const ServerAddress& server, const std::string& folder, std::string_view file)
{
    const std::string url = ftpUrl(server, folder, file);
    require(url.find_first_of("\r\n", 0) == std::string::npos);
    std::unique_ptr<CURLU, UrlDeleter> u(curl_url());
    if (curl_url_set(u.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK)
        return; // libcurl refuses it: the call fails, nothing is sent anywhere
    std::string host = part(u.get(), CURLUPART_HOST);
    if (server.ipv6 && host.size() >= 2 && host.front() == '[')
        host = host.substr(1, host.size() - 2);
    std::string expectedHost = server.host;
    if (server.ipv6) {
        // The zone id's percent sign travels escaped.
        const auto pct = expectedHost.find('%');
        if (pct != std::string::npos)
            expectedHost = expectedHost.substr(0, pct);
        const auto hostPct = host.find('%');
        if (hostPct != std::string::npos)
            host = host.substr(0, hostPct);
    }
    // An SFTP URL names its host in lower case, as known_hosts does.
    if (server.scheme == Scheme::Sftp)
        for (char& c : expectedHost)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // libcurl writes numeric IPv4 names the canonical way ("127.1" is 127.0.0.1), as
    // the resolver would read them; that is the same host.
    in_addr numeric{};
    if (!server.ipv6 && host != expectedHost && ::inet_aton(expectedHost.c_str(), &numeric))
        expectedHost = ::inet_ntoa(numeric);
    // Likewise IPv6 ("fe80::0" is fe80::).
    in6_addr a{}, b{};
    if (server.ipv6 && host != expectedHost && ::inet_pton(AF_INET6, expectedHost.c_str(), &a) == 1 &&
        ::inet_pton(AF_INET6, host.c_str(), &b) == 1 && std::memcmp(&a, &b, sizeof a) == 0)
        host = expectedHost;
    require(host == expectedHost);
    require(part(u.get(), CURLUPART_PORT) == std::to_string(server.port));
    // The scheme decides the protocol and whether TLS or SSH is spoken; a URL that
    // named another would send the password another way than the box said.
    const char* expectedScheme = server.scheme == Scheme::Sftp   ? "sftp"
                                 : server.scheme == Scheme::Ftps ? "ftps"
                                                                 : "ftp";
    require(part(u.get(), CURLUPART_SCHEME) == expectedScheme);
    require(part(u.get(), CURLUPART_USER).empty());
    require(part(u.get(), CURLUPART_QUERY).empty());
    require(part(u.get(), CURLUPART_FRAGMENT).empty());
    // The path, decoded, is the folder's segments and the file name, nothing more: for
    // FTP behind an encoded slash (an absolute CWD), for SFTP as it stands.
    std::string expectedPath;
    if (server.scheme == Scheme::Sftp) {
        expectedPath = folder == "/" ? std::string("/") : folder + "/";
    } else {
        expectedPath = "//";
        expectedPath += folder == "/" ? std::string() : folder.substr(1);
        expectedPath += '/';
    }
    expectedPath += file;
    require(percentDecode(part(u.get(), CURLUPART_PATH)) == expectedPath);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Layout: two bytes of explicit port, then name NUL current-folder NUL path NUL file.
    if (size < 2)
        return 0;
    const int explicitPort = ((data[0] << 8) | data[1]) % 65536;
    std::string_view rest(reinterpret_cast<const char*>(data + 2), size - 2);
    std::string_view fields[4];
    for (auto& f : fields) {
        const auto nul = rest.find('\0');
        f = rest.substr(0, nul);
        rest = nul == std::string_view::npos ? std::string_view() : rest.substr(nul + 1);
    }
    const auto [name, current, path, file] = fields;

    // The current folder is always a resolved path in the layer (the login folder and
    // every change pass through resolveRemotePath), so it is resolved here too.
    const std::string resolved = resolveRemotePath(resolveRemotePath("/", current), path);
    checkResolved(resolved);

    const std::string encoded = percentEncode(path);
    require(encoded.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~%") ==
            std::string::npos);

    const auto server = parseServerAddress(name, explicitPort);
    // "ftp://" changes nothing: a name reads the same with it as without it.
    if (name.find("://") == std::string_view::npos) {
        const auto prefixed = parseServerAddress("ftp://" + std::string(name), explicitPort);
        require(prefixed.has_value() == server.has_value());
        if (server) {
            require(server->scheme == Scheme::Ftp);
            require(prefixed->host == server->host && prefixed->port == server->port &&
                    prefixed->ipv6 == server->ipv6 && prefixed->scheme == Scheme::Ftp);
        }
    }
    if (!server)
        return 0;
    // The scheme is the name's prefix, whatever its case; no scheme is plain FTP.
    const auto sep = name.find("://");
    if (sep != std::string_view::npos) {
        std::string prefix(name.substr(0, sep));
        for (char& c : prefix)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        require((prefix == "ftp" && server->scheme == Scheme::Ftp) ||
                (prefix == "ftpes" && server->scheme == Scheme::Ftpes) ||
                (prefix == "ftps" && server->scheme == Scheme::Ftps) ||
                (prefix == "sftp" && server->scheme == Scheme::Sftp));
    }
    // Without a port in the name or from the caller, each scheme has its own.
    const auto authority = name.substr(sep == std::string_view::npos ? 0 : sep + 3);
    const bool namedPort = authority.starts_with('[') ? authority.find("]:") != std::string_view::npos
                                                      : std::count(authority.begin(), authority.end(), ':') == 1;
    if (explicitPort == 0 && !namedPort)
        require(server->port == defaultPortOf(server->scheme));
    require(!server->host.empty());
    require(server->port >= 1 && server->port <= 65535);
    if (explicitPort != 0)
        require(server->port == explicitPort);
    require(server->host.find_first_of("\r\n /\\?#@") == std::string::npos);

    checkUrl(*server, "/", {});
    // A file name reaches ftpUrl as the last part of a resolved path, never "." or "..".
    if (file != "." && file != "..")
        checkUrl(*server, resolved, file);
    return 0;
}
