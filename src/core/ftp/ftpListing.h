#pragma once
// Parsers for the folder listings FTP servers send: MLSD (machine readable) and the
// LIST formats found in the wild (Unix "ls -l" and the DOS/IIS style).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct FtpListEntry {
    std::string name;
    bool isDirectory = false;
    std::uint64_t size = 0;
};

// One MLSD line ("type=dir;size=0;modify=...; name"). The entries "." and ".." (and the
// cdir/pdir facts) give nothing.
std::optional<FtpListEntry> parseMlsdLine(std::string_view line);

// One LIST line, Unix or DOS style. Summary lines ("total 12"), "." and ".." and lines
// in no known format give nothing. A symbolic link gives its own name, not the target.
std::optional<FtpListEntry> parseListLine(std::string_view line);

// A whole listing, lines ended by CRLF or LF.
std::vector<FtpListEntry> parseMlsdListing(std::string_view text);
std::vector<FtpListEntry> parseListListing(std::string_view text);

// Windows-style wildcard match ("*", "?"); "*.*" matches every name, dot or not.
bool matchesFindPattern(std::string_view pattern, std::string_view name);

// Copies name into a fixed buffer of `capacity` bytes, zero-terminated, cut short
// without splitting a UTF-8 sequence.
void copyTruncatedUtf8(std::string_view name, char* buffer, std::size_t capacity);
