#pragma once
// Looking at what a server proves itself with, on a connection of its own that ends
// before any login: nothing of a user name or a password goes out. Both run on the
// calling thread, bounded by ftpBounds() and cut short by the thread's Cancellation.

#include "core/ftp/certificate.h"
#include "core/ftp/serverAddress.h"
#include "core/ftp/serverIdentity.h"

#include <optional>
#include <string>

// The certificate a TLS server presents, read on a connection like the login's (AUTH
// TLS first for ftpes) that checks nothing but a pin no key has, so libcurl ends it once
// the handshake is over. Nothing when no certificate could be read; *why says why.
std::optional<Certificate> fetchCertificate(const ServerAddress& server, std::string* why);

// The host key an SSH server offers, held against known_hosts and never accepted, so
// the connection ends with the key exchange. Nothing when the key is known (or no key
// was seen: *why says why, and is empty for a known key); otherwise the key with its
// standing, New or Changed.
std::optional<ServerIdentity> lookAtHostKey(const ServerAddress& server, std::string* why);
