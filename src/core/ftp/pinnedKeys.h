#pragma once
// The pin file, ftp-pins.txt in the trust folder: the FTPS servers whose certificate the
// operator chose to trust, each by its certificate's public key, one server a line:
//
//   # comments and blank lines are passed over
//   cam.example.jp:21 sha256//<base64 SHA-256 of the public key> AB:CD:…
//   [2001:db8::5]:990 sha256//…
//
// The first field is the server and its port as the server box names them (the host in
// lower case, an IPv6 address in brackets), the second the pin as libcurl takes it
// (CURLOPT_PINNEDPUBLICKEY), the third the SHA-256 fingerprint of the certificate the
// pin was taken from, for the reader and for the question when the key changes. A
// server with a pin is accepted when its key matches, whatever vouches for the
// certificate or whichever name it is issued for, and refused when it does not.
//
// The file is written by hand as well: a line that cannot be read is passed over, so at
// worst a server is checked as if it had no pin, never with less.

#include "core/ftp/serverAddress.h"

#include <string>
#include <string_view>
#include <vector>

inline constexpr char kPinnedKeysFile[] = "ftp-pins.txt";

struct PinnedKey {
    std::string pin;         // "sha256//…"
    std::string fingerprint; // of the certificate it was taken from; empty when the line has none
};

// The name a server goes by in the file: "host:port" or "[v6]:port".
std::string pinnedKeyName(const ServerAddress& server);

// The pins the file's text holds for a server (usually one), in the file's order.
std::vector<PinnedKey> pinnedKeysIn(std::string_view fileText, std::string_view name);

// The file's text with the server's lines replaced by one line for the key, the other
// lines as they were; a file that had no text starts with a note on what it holds.
std::string withPinnedKey(std::string_view fileText, std::string_view name, const PinnedKey& key);

// The same, on the file in the trust folder (secureOptions.h). Read at every connect, so
// a line removed by hand counts from the next one on. pinKey() is false when there is no
// trust folder or the file could not be written; the file is then as it was.
std::vector<PinnedKey> pinnedKeysOf(const ServerAddress& server);
bool pinKey(const ServerAddress& server, const PinnedKey& key);
