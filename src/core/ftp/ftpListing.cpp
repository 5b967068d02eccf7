#include "core/ftp/ftpListing.h"

#include "core/ftp/asciiCase.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>

namespace {

bool isDotEntry(std::string_view name)
{
    return name == "." || name == "..";
}

std::string_view trimLineEnd(std::string_view line)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.remove_suffix(1);
    return line;
}

bool allDigits(std::string_view s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

std::uint64_t toSize(std::string_view s)
{
    std::uint64_t v = 0;
    for (char c : s)
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
    return v;
}

// Splits off whitespace-separated tokens while remembering where each one starts, so the
// name (which may hold runs of blanks) can be taken verbatim from the original line.
struct Token {
    std::string_view text;
    std::size_t end; // offset just past the token
};

std::vector<Token> tokenize(std::string_view line, std::size_t maxTokens)
{
    std::vector<Token> out;
    std::size_t i = 0;
    while (i < line.size() && out.size() < maxTokens) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        const auto start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
        if (i > start)
            out.push_back({line.substr(start, i - start), i});
    }
    return out;
}

bool isMonth(std::string_view s)
{
    static constexpr std::array<std::string_view, 12> months = {"jan", "feb", "mar", "apr", "may", "jun",
                                                                "jul", "aug", "sep", "oct", "nov", "dec"};
    return std::any_of(months.begin(), months.end(), [&](auto m) { return equalsIgnoreCase(s, m); });
}

bool isTimeOrYear(std::string_view s)
{
    if (s.size() == 4 && allDigits(s))
        return true;
    const auto colon = s.find(':');
    return colon != std::string_view::npos && allDigits(s.substr(0, colon)) && allDigits(s.substr(colon + 1));
}

std::optional<FtpListEntry> parseUnixLine(std::string_view line)
{
    static constexpr std::string_view kinds = "-dlbcpsD";
    if (line.size() < 10 || kinds.find(line[0]) == std::string_view::npos)
        return std::nullopt;
    // Owner, group, size and device numbers vary between servers; the date
    // (month, day, time or year) is the one reliable landmark before the name.
    const auto tokens = tokenize(line, 12);
    for (std::size_t m = 2; m + 2 < tokens.size(); ++m) {
        if (!isMonth(tokens[m].text) || !allDigits(tokens[m + 1].text) || !isTimeOrYear(tokens[m + 2].text))
            continue;
        auto nameStart = tokens[m + 2].end;
        if (nameStart < line.size())
            ++nameStart; // the single separator blank; further blanks belong to the name
        std::string_view name = line.substr(std::min(nameStart, line.size()));
        if (line[0] == 'l') {
            if (const auto arrow = name.find(" -> "); arrow != std::string_view::npos)
                name = name.substr(0, arrow);
        }
        if (name.empty() || isDotEntry(name))
            return std::nullopt;
        FtpListEntry e;
        e.name = std::string(name);
        e.isDirectory = line[0] == 'd';
        if (allDigits(tokens[m - 1].text) && line[0] != 'b' && line[0] != 'c')
            e.size = toSize(tokens[m - 1].text);
        return e;
    }
    return std::nullopt;
}

bool isDosDate(std::string_view s)
{
    // 01-01-24, 01-01-2024, also with slashes.
    if (s.size() != 8 && s.size() != 10)
        return false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const bool sep = i == 2 || i == 5;
        if (sep ? (s[i] != '-' && s[i] != '/') : !std::isdigit(static_cast<unsigned char>(s[i])))
            return false;
    }
    return true;
}

bool isDosTime(std::string_view s)
{
    if (s.size() >= 2) {
        const auto suffix = s.substr(s.size() - 2);
        if (equalsIgnoreCase(suffix, "AM") || equalsIgnoreCase(suffix, "PM"))
            s.remove_suffix(2);
    }
    return isTimeOrYear(s) && s.find(':') != std::string_view::npos;
}

std::optional<FtpListEntry> parseDosLine(std::string_view line)
{
    const auto tokens = tokenize(line, 3);
    if (tokens.size() < 3 || !isDosDate(tokens[0].text) || !isDosTime(tokens[1].text))
        return std::nullopt;
    const bool dir = equalsIgnoreCase(tokens[2].text, "<DIR>");
    if (!dir && !allDigits(tokens[2].text))
        return std::nullopt;
    auto nameStart = tokens[2].end;
    while (nameStart < line.size() && (line[nameStart] == ' ' || line[nameStart] == '\t'))
        ++nameStart;
    const auto name = line.substr(nameStart);
    if (name.empty() || isDotEntry(name))
        return std::nullopt;
    FtpListEntry e;
    e.name = std::string(name);
    e.isDirectory = dir;
    if (!dir)
        e.size = toSize(tokens[2].text);
    return e;
}

template <typename LineParser>
std::vector<FtpListEntry> parseLines(std::string_view text, LineParser parse)
{
    std::vector<FtpListEntry> out;
    while (!text.empty()) {
        const auto nl = text.find('\n');
        const auto line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
        if (auto e = parse(trimLineEnd(line)))
            out.push_back(std::move(*e));
    }
    return out;
}

} // namespace

std::optional<FtpListEntry> parseMlsdLine(std::string_view line)
{
    line = trimLineEnd(line);
    const auto space = line.find(' ');
    if (space == std::string_view::npos)
        return std::nullopt;
    const auto facts = line.substr(0, space);
    const auto name = line.substr(space + 1);
    if (name.empty() || isDotEntry(name))
        return std::nullopt;
    FtpListEntry e;
    e.name = std::string(name);
    std::string_view rest = facts;
    while (!rest.empty()) {
        const auto semi = rest.find(';');
        const auto fact = rest.substr(0, semi);
        rest = semi == std::string_view::npos ? std::string_view() : rest.substr(semi + 1);
        const auto eq = fact.find('=');
        if (eq == std::string_view::npos)
            continue;
        const auto key = fact.substr(0, eq);
        const auto value = fact.substr(eq + 1);
        if (equalsIgnoreCase(key, "type")) {
            if (equalsIgnoreCase(value, "cdir") || equalsIgnoreCase(value, "pdir"))
                return std::nullopt;
            e.isDirectory = equalsIgnoreCase(value, "dir");
        } else if (equalsIgnoreCase(key, "size") && allDigits(value)) {
            e.size = toSize(value);
        }
    }
    return e;
}

std::optional<FtpListEntry> parseListLine(std::string_view line)
{
    line = trimLineEnd(line);
    if (auto e = parseUnixLine(line))
        return e;
    return parseDosLine(line);
}

std::vector<FtpListEntry> parseMlsdListing(std::string_view text)
{
    return parseLines(text, parseMlsdLine);
}

std::vector<FtpListEntry> parseListListing(std::string_view text)
{
    return parseLines(text, parseListLine);
}

bool matchesFindPattern(std::string_view pattern, std::string_view name)
{
    if (pattern.empty() || pattern == "*" || pattern == "*.*")
        return true;
    // Iterative glob with single-star backtracking.
    std::size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

void copyTruncatedUtf8(std::string_view name, char* buffer, std::size_t capacity)
{
    if (capacity == 0)
        return;
    std::size_t len = std::min(name.size(), capacity - 1);
    if (len < name.size()) {
        // Back off over continuation bytes so the cut lands on a character boundary.
        while (len > 0 && (static_cast<unsigned char>(name[len]) & 0xC0) == 0x80)
            --len;
    }
    std::memcpy(buffer, name.data(), len);
    std::memset(buffer + len, 0, capacity - len);
}
