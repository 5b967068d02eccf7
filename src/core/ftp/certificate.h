#pragma once
// What a server's certificate says, read from its DER encoding (X.509): what the operator
// is shown before trusting it, and the public key a pin is made of. It reads only what
// it needs and refuses anything malformed. It checks nothing (no signature, no date):
// libcurl decides trust, or the operator does.
//
// The texts come from the server and are shown in a box: characters that could break a
// line or turn text around are replaced, and each text is cut to a sane length.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

struct Certificate {
    QByteArray der;       // the whole certificate
    QString subject;      // its attributes in the order they are encoded: "O=Example, CN=cam.example.jp"
    QString issuer;       // the same for the issuer
    QStringList names;    // the names it covers (subjectAltName): DNS names and IP addresses
    QDateTime notBefore;  // UTC
    QDateTime notAfter;   // UTC
    QByteArray subjectId; // the subject and issuer as encoded, to tell which of a chain issued which
    QByteArray issuerId;
    QByteArray publicKey; // SubjectPublicKeyInfo, as encoded: what a pin is the hash of
};

std::optional<Certificate> readCertificate(const QByteArray& der);

// The SHA-256 of the whole certificate as hex pairs, "AB:CD:…", as
// `openssl x509 -fingerprint -sha256` shows it.
QString certificateFingerprint(const QByteArray& der);

// "sha256//" and the base64 SHA-256 of a public key (SubjectPublicKeyInfo), as
// CURLOPT_PINNEDPUBLICKEY takes it.
QString publicKeyPin(const QByteArray& publicKey);

// The server's own certificate out of the chain it presented, given as PEM texts in any
// order (TLS libraries list a chain differently): the one that issued none of the others.
std::optional<Certificate> serverCertificate(const QList<QByteArray>& pems);
