#include "core/ftp/pinnedKeys.h"

#include "core/ftp/secureOptions.h"
#include "core/ftp/trustFile.h"

#include <QByteArray>

#include <algorithm>
#include <cctype>

namespace {

constexpr std::string_view kPinPrefix = "sha256//";
constexpr std::string_view kNewFileNote =
    "# Servers whose certificate Skylark trusts by its public key, one a line:\n"
    "#   server:port  sha256//(SHA-256 of the key, base64)  (SHA-256 fingerprint of the certificate)\n"
    "# Delete a server's line to stop trusting it; its next Connect asks again.\n";

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

// The blank-separated fields of a line.
std::vector<std::string_view> fieldsOf(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && isBlank(line[at]))
            ++at;
        const std::size_t start = at;
        while (at < line.size() && !isBlank(line[at]))
            ++at;
        if (at > start)
            fields.push_back(line.substr(start, at - start));
    }
    return fields;
}

bool sameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

// A pin is the base64 of 32 bytes, nothing else.
bool isPin(std::string_view field)
{
    if (!field.starts_with(kPinPrefix))
        return false;
    const std::string_view code = field.substr(kPinPrefix.size());
    if (code.size() != 44 || code.back() != '=')
        return false;
    const auto decoded = QByteArray::fromBase64Encoding(QByteArray(code.data(), static_cast<qsizetype>(code.size())),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    return decoded && decoded.decoded.size() == 32;
}

bool isFingerprint(std::string_view field)
{
    if (field.size() != 32 * 3 - 1)
        return false;
    for (std::size_t i = 0; i < field.size(); ++i)
        if (i % 3 == 2 ? field[i] != ':' : !std::isxdigit(static_cast<unsigned char>(field[i])))
            return false;
    return true;
}

// Calls each(line, fields) for every line of the text, the line without its end.
template <typename Each>
void forEachLine(std::string_view text, Each&& each)
{
    if (text.starts_with("\xEF\xBB\xBF")) // a byte order mark, as Windows' Notepad may write
        text.remove_prefix(3);
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        each(line, fieldsOf(line));
    }
}

bool namesServer(const std::vector<std::string_view>& fields, std::string_view name)
{
    return !fields.empty() && !fields[0].starts_with('#') && sameName(fields[0], name);
}

std::string pinFile()
{
    return trustFilePath(trustFolder(), kPinnedKeysFile);
}

} // namespace

std::string pinnedKeyName(const ServerAddress& server)
{
    const std::string host = trustHostName(server);
    return (server.ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(server.port);
}

std::vector<PinnedKey> pinnedKeysIn(std::string_view fileText, std::string_view name)
{
    std::vector<PinnedKey> keys;
    forEachLine(fileText, [&](std::string_view, const std::vector<std::string_view>& fields) {
        if (!namesServer(fields, name) || fields.size() < 2 || !isPin(fields[1]))
            return;
        PinnedKey key{std::string(fields[1]), {}};
        if (fields.size() > 2 && isFingerprint(fields[2])) {
            key.fingerprint = fields[2];
            std::transform(key.fingerprint.begin(), key.fingerprint.end(), key.fingerprint.begin(),
                           [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        }
        keys.push_back(std::move(key));
    });
    return keys;
}

std::string withPinnedKey(std::string_view fileText, std::string_view name, const PinnedKey& key)
{
    std::string out = fileText.empty() ? std::string(kNewFileNote) : std::string();
    forEachLine(fileText, [&](std::string_view line, const std::vector<std::string_view>& fields) {
        if (!namesServer(fields, name))
            out.append(line).append("\n");
    });
    out.append(name).append(" ").append(key.pin);
    if (!key.fingerprint.empty())
        out.append(" ").append(key.fingerprint);
    return out + "\n";
}

std::vector<PinnedKey> pinnedKeysOf(const ServerAddress& server)
{
    const std::string path = pinFile();
    if (path.empty())
        return {};
    return pinnedKeysIn(readTrustFile(path).value_or(std::string()), pinnedKeyName(server));
}

bool pinKey(const ServerAddress& server, const PinnedKey& key)
{
    const std::string path = pinFile();
    if (path.empty())
        return false;
    const auto text = readTrustFile(path);
    return text && writeTrustFile(path, withPinnedKey(*text, pinnedKeyName(server), key));
}
