#include "core/ftp/serverAddress.h"

#include "core/ftp/asciiCase.h"

#include <cctype>
#include <charconv>
#include <vector>

namespace {

std::optional<int> parsePort(std::string_view text)
{
    int port = 0;
    const auto* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, port);
    if (text.empty() || ec != std::errc() || ptr != end || port < 1 || port > 65535)
        return std::nullopt;
    return port;
}

bool hostCharsAcceptable(std::string_view host, bool ipv6)
{
    if (host.empty())
        return false;
    for (unsigned char c : host) {
        // Anything that ends or redirects the authority part of a URL would let a typed
        // name point libcurl somewhere else than the operator meant.
        if (c <= 0x20 || c == 0x7f || c == '/' || c == '\\' || c == '?' || c == '#' || c == '@' || c == '[' || c == ']')
            return false;
        // libcurl decodes escapes in a host name, so "%2e" or "%25" would reach the
        // resolver as another name than the one typed. An IPv6 zone id keeps its "%":
        // ftpServerUrl escapes it.
        if (!ipv6 && (c == ':' || c == '%'))
            return false;
    }
    return true;
}

struct SchemeName {
    std::string_view prefix;
    Scheme scheme;
};
constexpr SchemeName kSchemes[] = {
    {"ftp", Scheme::Ftp}, {"ftpes", Scheme::Ftpes}, {"ftps", Scheme::Ftps}, {"sftp", Scheme::Sftp}};

// Takes a leading "scheme://" off name. A name without "://" is a bare host name, as
// it always was; "://" after anything else than a known scheme is refused.
std::optional<Scheme> takeScheme(std::string_view& name)
{
    const auto sep = name.find("://");
    if (sep == std::string_view::npos)
        return Scheme::Ftp;
    for (const auto& s : kSchemes) {
        if (equalsIgnoreCase(name.substr(0, sep), s.prefix)) {
            name.remove_prefix(sep + 3);
            return s.scheme;
        }
    }
    return std::nullopt;
}

std::string_view urlSchemeOf(Scheme scheme)
{
    switch (scheme) {
    case Scheme::Ftps:
        return "ftps://";
    case Scheme::Sftp:
        return "sftp://";
    case Scheme::Ftp:
    case Scheme::Ftpes:
        break;
    }
    return "ftp://";
}

} // namespace

int defaultPortOf(Scheme scheme, int ftpDefaultPort)
{
    switch (scheme) {
    case Scheme::Ftps:
        return 990;
    case Scheme::Sftp:
        return 22;
    case Scheme::Ftp:
    case Scheme::Ftpes:
        break;
    }
    return ftpDefaultPort;
}

std::optional<ServerAddress> parseServerAddress(std::string_view name, int explicitPort, int defaultPort)
{
    ServerAddress out;
    const auto scheme = takeScheme(name);
    if (!scheme)
        return std::nullopt;
    out.scheme = *scheme;
    std::optional<int> namedPort;
    if (!name.empty() && name.front() == '[') {
        const auto close = name.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        out.host = std::string(name.substr(1, close - 1));
        out.ipv6 = true;
        const auto rest = name.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':' || !(namedPort = parsePort(rest.substr(1))))
                return std::nullopt;
        }
    } else if (const auto colon = name.find(':'); colon != std::string_view::npos) {
        if (name.find(':', colon + 1) != std::string_view::npos) {
            out.host = std::string(name);
            out.ipv6 = true;
        } else {
            out.host = std::string(name.substr(0, colon));
            if (!(namedPort = parsePort(name.substr(colon + 1))))
                return std::nullopt;
        }
    } else {
        out.host = std::string(name);
    }
    if (!hostCharsAcceptable(out.host, out.ipv6))
        return std::nullopt;
    if (explicitPort != 0)
        out.port = explicitPort;
    else
        out.port = namedPort.value_or(defaultPortOf(out.scheme, defaultPort));
    return out;
}

std::string resolveRemotePath(std::string_view currentFolder, std::string_view path)
{
    std::string joined;
    std::string p(path);
    for (char& c : p)
        if (c == '\\')
            c = '/';
    if (p.empty() || p.front() != '/')
        joined = std::string(currentFolder) + "/" + p;
    else
        joined = p;

    std::vector<std::string_view> parts;
    std::string_view rest(joined);
    while (!rest.empty()) {
        const auto slash = rest.find('/');
        const auto part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    if (parts.empty())
        return "/";
    std::string out;
    for (auto part : parts) {
        out += '/';
        out += part;
    }
    return out;
}

std::string percentEncode(std::string_view segment)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(segment.size());
    for (unsigned char c : segment) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string trustHostName(const ServerAddress& server)
{
    std::string host = server.host.substr(0, server.host.find('%'));
    for (char& c : host)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return host;
}

std::string ftpServerUrl(const ServerAddress& server)
{
    std::string url(urlSchemeOf(server.scheme));
    // libssh2 compares host names in known_hosts exactly, and OpenSSH writes them in
    // lower case; names and addresses mean the same in either case. A zone id is an
    // interface's name and stays as it is.
    const bool lower = server.scheme == Scheme::Sftp;
    bool inZone = false;
    if (server.ipv6)
        url += '[';
    for (char c : server.host) {
        inZone = inZone || c == '%';
        if (c == '%')
            url += "%25"; // a zone id's percent sign is escaped inside a URL
        else if (lower && !inZone)
            url += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        else
            url += c;
    }
    if (server.ipv6)
        url += ']';
    url += ':' + std::to_string(server.port) + "/";
    return url;
}

std::string ftpUrl(const ServerAddress& server, std::string_view absoluteFolder, std::string_view fileName)
{
    // An SFTP path is absolute as it stands; an FTP path in a URL is relative to the
    // login folder unless its first segment is an encoded slash.
    std::string url = ftpServerUrl(server);
    if (server.scheme != Scheme::Sftp)
        url += "%2F";
    std::string_view rest(absoluteFolder);
    bool first = true;
    while (!rest.empty()) {
        const auto slash = rest.find('/');
        const auto part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (part.empty())
            continue;
        if (!first)
            url += '/';
        url += percentEncode(part);
        first = false;
    }
    if (!first || server.scheme != Scheme::Sftp)
        url += '/';
    url += percentEncode(fileName);
    return url;
}
