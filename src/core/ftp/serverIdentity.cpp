#include "core/ftp/serverIdentity.h"

#include "core/base/eventLog.h"
#include "core/ftp/knownHosts.h"
#include "core/ftp/pinnedKeys.h"
#include "core/ftp/secureOptions.h"
#include "core/ftp/trustFile.h"

QString describeIdentity(const ServerIdentity& identity)
{
    QString text = identity.kind == ServerIdentity::Kind::Certificate
                       ? QStringLiteral("certificate SHA-256 ") + identity.fingerprint
                       : identity.keyType + QLatin1Char(' ') + identity.fingerprint;
    if (identity.standing == ServerIdentity::Standing::Changed)
        text += QStringLiteral(" instead of ") + identity.trustedFingerprint;
    return text;
}

bool trustIdentity(const ServerIdentity& identity)
{
    bool written = false;
    QString where;
    if (identity.kind == ServerIdentity::Kind::Certificate) {
        where = QString::fromLatin1(kPinnedKeysFile);
        written = pinKey(identity.server, PinnedKey{identity.pin.toStdString(), identity.fingerprint.toStdString()});
    } else {
        where = QString::fromLatin1(kKnownHostsFile);
        const std::string path = trustFilePath(trustFolder(), kKnownHostsFile);
        const auto text = path.empty() ? std::nullopt : readTrustFile(path);
        const std::string name = knownHostsName(identity.server);
        written =
            text && writeTrustFile(path, withHostKey(*text, name,
                                                     hostKeyLine(name, identity.keyType.toStdString(), identity.key)));
    }
    const QString event = QStringLiteral("trust: server=%1 %2 %3")
                              .arg(eventlog::quote(QString::fromStdString(pinnedKeyName(identity.server))),
                                   eventlog::quote(describeIdentity(identity)),
                                   written ? QStringLiteral("trusted from now on, in ") + where
                                           : QStringLiteral("not trusted: cannot write ") + where);
    written ? eventlog::info(event) : eventlog::warning(event);
    return written;
}
