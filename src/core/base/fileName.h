#pragma once
// Skylark keeps file names in UTF-8, as Qt hands them out. The C library's and
// std::filesystem's narrow names are the ANSI code page on Windows, which cannot spell
// every folder a user may pick (a Japanese name on a Western Windows, an emoji on any):
// these name and open files in wide characters there, and as they are elsewhere.

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

namespace filename {

std::filesystem::path path(const std::string& utf8);
std::FILE* open(const std::string& utf8, const char* mode);
// The name for a library that opens the file itself by a narrow name (libssh2 and its
// known_hosts): in the ANSI code page on Windows, or nothing when that cannot spell it.
std::optional<std::string> forNarrowLibrary(const std::string& utf8);

} // namespace filename
