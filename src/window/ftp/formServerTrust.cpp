// Trusting a server on the operator's Connect. A certificate that nothing trusted vouches
// for (or whose key is not the pinned one), and an SSH host key not yet recorded (or not
// the recorded one), is shown in one question; only on はい is it trusted, from then on,
// and the connect made. The hourly connect never comes here: it refuses what is not
// trusted, records the first host key of a server never seen, and the log names what
// the server offered either way.
#include "core/base/eventLog.h"
#include "core/ftp/pinnedKeys.h"
#include "core/ftp/serverAddress.h"
#include "window/app/ftpForm.h"
#include "window/app/platform.h"
#include "window/ftp/trustQuestion.h"

Task<bool> FTPform::hostKeyTrusted(QString server)
{
    // The connect would record a new key unasked, as the hourly one must: an SFTP
    // server's key is looked at first, on a connection that sends nothing of the login.
    const auto address = parseServerAddress(server.toLocal8Bit().toStdString(), 0);
    if (!address || address->scheme != Scheme::Sftp)
        co_return true;
    const std::optional<ServerIdentity> offered = co_await m_session.lookAtHostKey(server);
    if (!offered)
        co_return true; // known, or not seen at all: the connect finds out for itself
    co_return trustOffered(*offered);
}

bool FTPform::trustOffered(const ServerIdentity& offered)
{
    if (m_platform.askYesNo(trustQuestion(offered), trustByDefault(offered)))
        return trustIdentity(offered);
    eventlog::info(QStringLiteral("trust: server=%1 %2 not trusted by the operator")
                       .arg(eventlog::quote(QString::fromStdString(pinnedKeyName(offered.server))),
                            eventlog::quote(describeIdentity(offered))));
    return false;
}
