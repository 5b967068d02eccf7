#pragma once
// Addressing helpers of the FTP layer: where a server name points, and how a remote
// folder the operator typed becomes an absolute path and a libcurl URL.

#include <optional>
#include <string>
#include <string_view>

// How a server is spoken to, chosen by an optional prefix of the server name.
enum class Scheme {
    Ftp,   // none or "ftp://": plain FTP, the password in clear text
    Ftpes, // "ftpes://": FTP that turns on TLS (AUTH TLS) before logging in
    Ftps,  // "ftps://": FTP inside TLS from the first byte (implicit TLS)
    Sftp,  // "sftp://": SSH file transfer
};

struct ServerAddress {
    std::string host; // without brackets, also for IPv6
    int port = 21;
    bool ipv6 = false;
    Scheme scheme = Scheme::Ftp;
};

// The port a scheme uses when neither the name nor the caller gives one.
int defaultPortOf(Scheme scheme, int ftpDefaultPort = 21);

// An optional scheme ("ftp://", "ftpes://", "ftps://", "sftp://", in any case), then
// "host", "host:port", "[v6]", "[v6]:port" or a bare IPv6 address ("::1", which has
// several colons and so carries no port). A port written in the name is used when
// explicitPort is 0; otherwise explicitPort wins, and 0 means the scheme's default
// port: defaultPort for plain FTP and ftpes, 990 for ftps, 22 for sftp.
// Returns nothing for an empty host, an unknown scheme, a malformed port or characters
// that would change the meaning of a URL.
std::optional<ServerAddress> parseServerAddress(std::string_view name, int explicitPort, int defaultPort = 21);

// The host as the files of trusted servers (known_hosts, the pin file) name it: in
// lower case, without an IPv6 zone.
std::string trustHostName(const ServerAddress& server);

// Resolves a remote path against the current folder. "\" counts as "/", "." and ".."
// are folded lexically ("/.." stays "/"). The result is absolute, without a trailing
// slash except for the root itself.
std::string resolveRemotePath(std::string_view currentFolder, std::string_view path);

// Percent-encodes everything but RFC 3986's unreserved characters.
std::string percentEncode(std::string_view segment);

// ftp://host:port/ : the login folder, with no CWD at all. ftpes uses ftp:// too (the
// TLS request is an option of the transfer), ftps uses ftps://, sftp sftp://.
std::string ftpServerUrl(const ServerAddress& server);

// ftp://host:port/%2F<abs path>/ : a URL that names the absolute folder, so libcurl
// sends one "CWD /abs/path" whatever the login folder is. With a file name, the URL
// names that file inside the folder. For sftp, whose paths are absolute already:
// sftp://host:port/<abs path>/ and sftp://host:port/<abs path>/<file>.
std::string ftpUrl(const ServerAddress& server, std::string_view absoluteFolder, std::string_view fileName = {});
