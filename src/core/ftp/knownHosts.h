#pragma once
// known_hosts in the trust folder, in OpenSSH's format: the lines Skylark writes for a
// host key, and the replacement of a server's recorded key by a new one. (libssh2 reads
// the file and does the checking; secureOptions.h says when a key is recorded.)

#include "core/ftp/serverAddress.h"

#include <QByteArray>
#include <QString>

#include <string>
#include <string_view>

// "host" for port 22, "[host]:port" otherwise, as OpenSSH names a server.
std::string knownHostsName(const ServerAddress& server);

// A host key's fingerprint as ssh prints it: "SHA256:" and the unpadded base64 of the
// SHA-256 of the key.
QString hostKeyFingerprint(const QByteArray& key);

// The line for a key: "name type base64", without a line end.
std::string hostKeyLine(std::string_view name, std::string_view type, const QByteArray& key);

// The file's text with the server's name taken out of every line that names it (a line
// that names it alone goes, hashed names included), and the line for its new key added.
std::string withHostKey(std::string_view fileText, std::string_view name, std::string_view line);
