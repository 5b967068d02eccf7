#include "serverAddress.h"

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
        if (c <= 0x20 || c == 0x7f || c == '/' || c == '\\' || c == '?' || c == '#' || c == '@' || c == '[' ||
            c == ']')
            return false;
        // libcurl decodes escapes in a host name, so "%2e" or "%25" would reach the
        // resolver as another name than the one typed. An IPv6 zone id keeps its "%":
        // ftpServerUrl escapes it.
        if (!ipv6 && (c == ':' || c == '%'))
            return false;
    }
    return true;
}

} // namespace

std::optional<ServerAddress> parseServerAddress(std::string_view name, int explicitPort, int defaultPort)
{
    ServerAddress out;
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
        out.port = namedPort.value_or(defaultPort);
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

std::string ftpServerUrl(const ServerAddress& server)
{
    std::string url = "ftp://";
    if (server.ipv6) {
        // A zone id ("fe80::1%eth0") needs its percent sign escaped inside the URL.
        url += '[';
        for (char c : server.host)
            url += c == '%' ? std::string("%25") : std::string(1, c);
        url += ']';
    } else {
        url += server.host;
    }
    url += ':' + std::to_string(server.port) + "/";
    return url;
}

std::string ftpUrl(const ServerAddress& server, std::string_view absoluteFolder, std::string_view fileName)
{
    std::string url = ftpServerUrl(server) + "%2F";
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
    url += '/';
    url += percentEncode(fileName);
    return url;
}
