#pragma once
// Reading and rewriting the small text files that say which servers are trusted (the pin
// file, known_hosts), by their UTF-8 names.

#include <optional>
#include <string>

// The UTF-8 name of a file in a folder named in UTF-8; empty without a folder.
std::string trustFilePath(const std::string& folder, const char* file);

// The file's text: empty when there is no such file, nothing when it is there but cannot
// be read or is far larger than any such file (1 MiB).
std::optional<std::string> readTrustFile(const std::string& path);

// Replaces the file's text as a whole: a reader sees the old text or the new one, never
// a part, and a failure leaves the old one.
bool writeTrustFile(const std::string& path, const std::string& text);
