#pragma once
// What a server proved itself with when its trust was in question: its certificate
// (ftpes, ftps) or its SSH host key (sftp), with where it stands against the files of
// trusted servers. A failed connect carries it, so the log can name it and the operator
// can be asked whether to trust it (trustIdentity).

#include "core/ftp/certificate.h"
#include "core/ftp/serverAddress.h"

#include <QByteArray>
#include <QString>

#include <optional>

struct ServerIdentity {
    enum class Kind { Certificate, HostKey };
    enum class Standing {
        NotVouchedFor, // a certificate no trusted authority vouches for (self-signed, private CA)
        OtherName,     // a certificate issued for another name
        OutOfDate,     // a certificate expired or not yet valid
        New,           // a host key known_hosts does not hold yet
        Changed,       // not the pinned key, or not the host key known_hosts holds
        RecordedNew,   // a host key recorded unasked, as the first of a server never seen
    };

    Kind kind = Kind::Certificate;
    Standing standing = Standing::NotVouchedFor;
    ServerAddress server;
    QString fingerprint;        // the offered one: "AB:CD:…" (the whole certificate) or "SHA256:…" (the key)
    QString trustedFingerprint; // Changed: what the pin file or known_hosts holds; "?" when it says none
    std::optional<Certificate> certificate;
    QString pin;     // a certificate's public key as CURLOPT_PINNEDPUBLICKEY takes it
    QString keyType; // a host key's type, "ssh-ed25519"
    QByteArray key;  // a host key, as SSH encodes it
};

// The offered one in a few words, for the log: "certificate SHA-256 AB:CD:…" or
// "ssh-ed25519 SHA256:…", with what was trusted before when it changed.
QString describeIdentity(const ServerIdentity& identity);

// Trusts what the server offered from now on: pins the certificate's key for the server
// and its port (pinnedKeys.h), or records the host key in known_hosts, in place of what
// was there. False when the file could not be written (the reason is logged).
bool trustIdentity(const ServerIdentity& identity);
