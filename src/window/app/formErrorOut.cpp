#include "core/base/eventLog.h"
#include "window/app/ftpForm.h"
#include "window/app/platform.h"

using namespace wininet;

MessageId FTPform::ErrorOut(const FtpFailure& failure)
{
    // Every failure is logged; only a reply from the server is worth a box, the others
    // are the caller's business.
    const bool fromServer = failure.code == ERROR_INTERNET_EXTENDED_ERROR;
    eventlog::warning(QStringLiteral("error: ") + FtpSession::describe(failure) +
                      (fromServer ? QStringLiteral(" shown=yes") : QStringLiteral(" shown=no")));
    if (!fromServer)
        return 0;
    // A server may repeat the password in its reply; a box on an unattended screen
    // must not show it.
    return m_platform.showMessage(failure.call + QStringLiteral(" Extd Err: ") + QString::number(failure.reply.code) +
                                  QLatin1Char(' ') + eventlog::withoutSecrets(failure.reply.text));
}
