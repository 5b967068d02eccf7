#include "app/ftpForm.h"
#include "app/platform.h"

#include <string>

void FTPform::ErrorOut(const std::uint32_t& dError, const QString& szCallFunction)
{
    // Only a reply from the server is worth showing; other failures are the caller's
    // business.
    if (dError != ERROR_INTERNET_EXTENDED_ERROR)
        return;
    std::int32_t code = 0;
    std::int32_t length = 0;
    InternetGetLastResponseInfoA(&code, nullptr, &length);
    std::string buffer(static_cast<size_t>(length < 0 ? 0 : length) + 1, '\0');
    InternetGetLastResponseInfoA(&code, buffer.data(), &length);
    const QString reply = QString::fromLocal8Bit(buffer.c_str());
    m_platform.showMessage(szCallFunction + QStringLiteral(" Extd Err: ") + QString::number(code) +
                           QLatin1Char(' ') + reply);
}
