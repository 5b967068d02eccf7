#include "app/ftpForm.h"

#include "app/platform.h"
#include "base/eventLog.h"

void FTPform::ErrorOut(std::uint32_t dError, const QString& szCallFunction)
{
    // Every failure is logged; only a reply from the server is worth a box, the others
    // are the caller's business.
    EventLog::warning(
        QStringLiteral("error: ") + FtpSession::describe(FtpFailure{dError, szCallFunction}) +
        (dError == FtpSession::kServerReplyError ? QStringLiteral(" shown=yes") : QStringLiteral(" shown=no")));
    if (dError != FtpSession::kServerReplyError)
        return;
    const ServerReply reply = FtpSession::lastReply();
    m_platform.showMessage(szCallFunction + QStringLiteral(" Extd Err: ") + QString::number(reply.code) +
                           QLatin1Char(' ') + reply.text);
}
