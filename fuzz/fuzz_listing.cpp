// The listing parsers on arbitrary server output. Whatever a server sends, an entry
// must be a real name taken from the line (never ".", "..", empty or with a line break
// that would later end up in a command), and the copy into the fixed-size find record
// must stay inside it and never cut a UTF-8 character in half.
#include "core/ftp/ftpListing.h"

#include "fuzzcheck.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace {

void checkEntry(const FtpListEntry& e, std::string_view source)
{
    require(!e.name.empty());
    require(e.name != "." && e.name != "..");
    require(source.find(e.name) != std::string_view::npos);
}

void checkListing(const std::vector<FtpListEntry>& entries, std::string_view text)
{
    for (const auto& e : entries) {
        checkEntry(e, text);
        // Lines end at LF; a CR inside a name is a (strange) character of that name.
        require(e.name.find('\n') == std::string::npos);
    }
}

void checkCopy(std::string_view name, std::size_t capacity)
{
    // Exactly `capacity` bytes on the heap, so a write past the end is seen.
    auto buffer = std::make_unique<char[]>(capacity ? capacity : 1);
    copyTruncatedUtf8(name, buffer.get(), capacity);
    if (capacity == 0)
        return;
    require(buffer[capacity - 1] == '\0');
    const std::size_t len = std::strlen(buffer.get());
    require(std::memcmp(buffer.get(), name.data(), len) == 0);
    if (name.substr(0, capacity - 1).find('\0') != std::string_view::npos)
        return; // a zero byte in the name ends the C string early; nothing more to say
    if (name.size() < capacity) {
        require(len == name.size());
    } else {
        // Cut short: at a character boundary, never into the middle of a sequence.
        require(len < capacity);
        require(len == 0 || (static_cast<unsigned char>(name[len]) & 0xC0) != 0x80);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    if (auto e = parseMlsdLine(text))
        checkEntry(*e, text);
    if (auto e = parseListLine(text))
        checkEntry(*e, text);
    checkListing(parseMlsdListing(text), text);
    checkListing(parseListListing(text), text);

    // The first line as a search pattern against the names in the rest.
    const auto nl = text.find('\n');
    const std::string_view pattern = text.substr(0, nl == std::string_view::npos ? text.size() : nl);
    const std::string_view rest = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    for (const auto& e : parseListListing(rest)) {
        matchesFindPattern(pattern, e.name);
        require(matchesFindPattern(e.name, e.name)); // a name always finds itself
        require(matchesFindPattern("*", e.name));
    }
    require(matchesFindPattern(rest, rest));
    matchesFindPattern(pattern, rest);

    for (std::size_t capacity : {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{5}, std::size_t{260}})
        checkCopy(text, capacity);
    return 0;
}
