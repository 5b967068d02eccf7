#include "core/ftp/knownHosts.h"

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>

#include <algorithm>
#include <optional>
#include <vector>

namespace {

// A name hashed as OpenSSH hashes it: "|1|" salt "|" HMAC-SHA1 of the name, in base64.
bool hashedNameMatches(std::string_view field, std::string_view name)
{
    if (!field.starts_with("|1|"))
        return false;
    const std::string_view rest = field.substr(3);
    const auto bar = rest.find('|');
    if (bar == std::string_view::npos)
        return false;
    const QByteArray salt = QByteArray::fromBase64(QByteArray(rest.data(), static_cast<qsizetype>(bar)));
    const QByteArray hash =
        QByteArray::fromBase64(QByteArray(rest.data() + bar + 1, static_cast<qsizetype>(rest.size() - bar - 1)));
    const QByteArray mine = QMessageAuthenticationCode::hash(
        QByteArray(name.data(), static_cast<qsizetype>(name.size())), salt, QCryptographicHash::Sha1);
    return !hash.isEmpty() && hash == mine;
}

// The line without the server's name, or nothing when no name is left of it.
std::optional<std::string> withoutName(std::string_view line, std::string_view name)
{
    const auto start = line.find_first_not_of(" \t");
    if (start == std::string_view::npos || line[start] == '#' || line[start] == '@')
        return std::string(line); // blank, a comment, or a marker line (@cert-authority, @revoked)
    const auto end = line.find_first_of(" \t", start);
    if (end == std::string_view::npos)
        return std::string(line);
    const std::string_view names = line.substr(start, end - start);
    std::vector<std::string_view> kept;
    bool named = false;
    std::size_t at = 0;
    while (at <= names.size()) {
        const auto comma = std::min(names.find(',', at), names.size());
        const std::string_view one = names.substr(at, comma - at);
        if (one == name || hashedNameMatches(one, name))
            named = true;
        else if (!one.empty())
            kept.push_back(one);
        at = comma + 1;
    }
    if (!named)
        return std::string(line);
    if (kept.empty())
        return std::nullopt;
    std::string out(line.substr(0, start));
    for (std::size_t i = 0; i < kept.size(); ++i)
        out.append(i ? "," : "").append(kept[i]);
    return out.append(line.substr(end));
}

} // namespace

std::string knownHostsName(const ServerAddress& server)
{
    std::string host = trustHostName(server);
    if (server.port == 22)
        return host;
    return "[" + host + "]:" + std::to_string(server.port);
}

QString hostKeyFingerprint(const QByteArray& key)
{
    const QByteArray hash = QCryptographicHash::hash(key, QCryptographicHash::Sha256);
    return QStringLiteral("SHA256:") + QString::fromLatin1(hash.toBase64(QByteArray::OmitTrailingEquals));
}

std::string hostKeyLine(std::string_view name, std::string_view type, const QByteArray& key)
{
    return std::string(name) + " " + std::string(type) + " " + key.toBase64().toStdString();
}

std::string withHostKey(std::string_view fileText, std::string_view name, std::string_view line)
{
    std::string out;
    while (!fileText.empty()) {
        const auto end = fileText.find('\n');
        const std::string_view one = fileText.substr(0, end);
        fileText = end == std::string_view::npos ? std::string_view() : fileText.substr(end + 1);
        if (const auto kept = withoutName(one, name))
            out.append(*kept).append("\n");
    }
    return out.append(line).append("\n");
}
