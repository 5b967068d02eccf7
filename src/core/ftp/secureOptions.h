#pragma once
// TLS and SSH for the FTP layer: the libcurl options each scheme needs, the files that
// say which servers are trusted, and what a failed secure connect means in the
// WinInet-style error codes the window knows.
//
// Trust lives in the trust folder, the folder of ftp.txt (setTrustFolder):
//   ftp-ca.pem   certificates (PEM) trusted in addition to the system's CA store, so a
//                server with a self-signed certificate or a private CA can be trusted;
//   ftp-pins.txt servers trusted by their certificate's public key instead
//                (pinnedKeys.h): such a server's key must match, and nothing else about
//                its certificate is checked;
//   known_hosts  SSH host keys in OpenSSH's format. The key of a server not in the file
//                is recorded at the first connect; a key that differs from the recorded
//                one is refused (OpenSSH's StrictHostKeyChecking=accept-new). Entries
//                read "host key" for port 22 and "[host]:port key" otherwise. A channel
//                that only looks (HostKeyPolicy::LookOnly) records nothing and refuses
//                every key, known ones included.
// Without a trust folder no extra certificate is trusted and no SFTP server either.
//
// Failures (SecureChannel::failure): the reason, the reply code that the caller is to
// report with it (as InternetGetLastResponseInfo would), and the response text. The
// WinInet layer gives each reason its code (modWinInet.cpp); the codes are in brackets.
// clang-format off
//   ftpes, ftps
//     certificate expired or not yet valid             CertificateDate  (12037)    0  libcurl's reason
//     certificate not for this host name               CertificateName  (12038)    0  libcurl's reason
//     key differs from the one pinned in ftp-pins.txt  HostKeyChanged   (12169)    0  host and pin file
//     unknown or untrusted CA, self-signed certificate UnknownAuthority (12045)    0  libcurl's reason
//     ftp-ca.pem unreadable                            UnknownAuthority (12045)    0  libcurl's reason
//     server refused AUTH TLS, handshake failed,       Channel          (12157)    0  libcurl's reason
//       no common protocol or cipher
//   sftp
//     host key differs from known_hosts                HostKeyChanged   (12169)    0  host and key fingerprint
//     key cannot be recorded in known_hosts            Channel          (12157)    0  why
//     SSH session not set up (key exchange,            Channel          (12157)    0  libssh2's reason
//       host key type)
//     login refused                                    LoginRefused     (12003)  530  server's or libssh2's reason
//     folder or file missing or refused,               Refused          (12003)  550  server's or libssh2's reason
//       rename refused
//     no byte moved for stallSeconds                   Stalled          (12002)    0  what stalled
// clang-format on
// Anything else (no route, connection refused, lost connection, FTP replies) is not a
// secure failure: failure() says nothing and the caller maps it as for plain FTP.
//
// The password is never sent before trust is settled: libcurl checks the certificate
// or the host key before USER/PASS or the SSH password request.

#include "core/ftp/pinnedKeys.h"
#include "core/ftp/serverAddress.h"
#include "core/ftp/serverIdentity.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Why a secure request failed, where libcurl's code alone does not say.
enum class FailureReason {
    CertificateDate,  // expired or not yet valid
    CertificateName,  // issued for another host name
    UnknownAuthority, // no trusted authority vouches for it
    Channel,          // TLS or SSH could not be set up
    HostKeyChanged,   // the SSH host key or a certificate's key differs from the recorded one
    LoginRefused,     // the SSH server refused the login
    Refused,          // the SSH server refused a folder, a file or a rename
    Stalled,          // nothing moved for the stall bound
};

inline constexpr char kTrustedCertificatesFile[] = "ftp-ca.pem";
inline constexpr char kKnownHostsFile[] = "known_hosts";

// The folder that holds ftp-ca.pem and known_hosts (the folder of ftp.txt), with or
// without a trailing separator. Read at every request, so a file added while the
// program runs counts from the next connect on.
void setTrustFolder(const std::string& folder);
std::string trustFolder();

// The certificates a TLS connection of this program trusts: the system store (where the
// machine has one) and ftp-ca.pem in the trust folder. For a handle just reset for a
// request; FTPS, and the mail and web messages to the owner.
void applyTrustedCertificates(CURL* curl);

// The system's bundle and ftp-ca.pem as one PEM text, for a libcurl without a CA
// folder. Read once, and again only when either file has changed (size or time).
std::shared_ptr<const std::string> trustedCertificates(const std::string& systemBundle, const std::string& own);

struct SecureFailure {
    FailureReason reason = FailureReason::Channel;
    int responseCode = 0;     // reply code to report; 0: none
    std::string responseText; // why, for the operator and the event log
};

// Quotes a path for an SFTP quote command ("rename", "rm", ...): blanks, quotes and
// backslashes survive libcurl's command parser.
std::string sftpQuoted(std::string_view path);

// The secure side of one session's connection. Create it with the session and keep it
// as long as the session's easy handle: libcurl calls back into it during requests.
class SecureChannel {
public:
    enum class HostKeyPolicy {
        RecordNew, // the first key of a server not in known_hosts is recorded and accepted
        LookOnly,  // every key is refused once seen: see offeredHostKey()
    };
    explicit SecureChannel(const ServerAddress& server, HostKeyPolicy policy = HostKeyPolicy::RecordNew);
    SecureChannel(const SecureChannel&) = delete;
    SecureChannel& operator=(const SecureChannel&) = delete;

    // Sets the scheme's options on a handle that was just reset for a request (plain
    // FTP gets none). For SFTP also a progress callback that ends a request in which no
    // byte has moved for stallSeconds: libssh2 by itself waits 60 s for an answer that
    // does not come.
    void apply(CURL* curl, long stallSeconds);

    // After a request that failed with rc, given libcurl's words for it (its error
    // buffer; empty when it wrote none): the secure failure it was, if it was one.
    std::optional<SecureFailure> failure(CURL* curl, CURLcode rc, std::string_view libraryText) const;

    Scheme scheme() const { return m_server.scheme; }
    // The line known_hosts holds (or would hold) for this server, up to the key:
    // "host" or "[host]:port".
    std::string knownHostsName() const;

    // The host key the last request's server offered, when it is news: not in
    // known_hosts (New, or RecordedNew once recorded) or not the one recorded there
    // (Changed). Nothing for a known key and before any key was seen.
    const std::optional<ServerIdentity>& offeredHostKey() const { return m_offered; }
    // The last request's server offered a key that known_hosts holds.
    bool hostKeyKnown() const { return m_hostKey == HostKey::Known; }
    // The pins the last request checked the server's certificate against; empty when it
    // has none and the certificate was checked as usual.
    const std::vector<PinnedKey>& pins() const { return m_pins; }

    // The stall check apply() sets as the handle's progress callback, for a caller
    // that sets a progress callback of its own to call on.
    static int onProgress(void* self, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal, curl_off_t ulnow);

private:
    enum class HostKey { Unchecked, Known, Recorded, Changed, NotRecorded };

    static int onHostKey(CURL*, const curl_khkey* known, const curl_khkey* found, curl_khmatch match, void* self);
    bool record(const curl_khkey& key);

    ServerAddress m_server;
    HostKeyPolicy m_policy;
    std::vector<PinnedKey> m_pins; // of the last apply(); empty: none
    std::optional<ServerIdentity> m_offered;
    std::string m_knownHosts;      // path of known_hosts at the last apply; empty: none
    bool m_knownHostsNamed = true; // libssh2 can open m_knownHosts by its narrow name
    HostKey m_hostKey = HostKey::Unchecked;
    std::string m_hostKeyNote; // what the host-key check has to say about a refusal
    std::chrono::steady_clock::time_point m_lastMove;
    curl_off_t m_lastBytes = -1;
    long m_stallSeconds = 0;
    bool m_stalled = false;
};
