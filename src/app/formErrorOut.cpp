#include "app/ftpForm.h"

#include "app/platform.h"

void FTPform::ErrorOut(std::uint32_t dError, const QString& szCallFunction)
{
    // Only a reply from the server is worth showing; other failures are the caller's
    // business.
    if (dError != FtpSession::kServerReplyError)
        return;
    const FtpReply reply = FtpSession::lastReply();
    m_platform.showMessage(szCallFunction + QStringLiteral(" Extd Err: ") + QString::number(reply.code) +
                           QLatin1Char(' ') + reply.text);
}
