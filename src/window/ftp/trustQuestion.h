#pragma once
// The question put to the operator when a Connect meets a server it does not trust yet:
// what is wrong, what the server offered (a certificate's subject, issuer, names,
// validity and SHA-256 fingerprint, or a host key's type and fingerprint), each
// fingerprint on a line of its own, and whether to trust it.

#include "core/ftp/serverIdentity.h"

#include <QString>

QString trustQuestion(const ServerIdentity& offered);

// はい is the default for a server met for the first time; いいえ for one whose key
// changed, which may be an attack.
bool trustByDefault(const ServerIdentity& offered);
