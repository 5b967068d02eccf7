// alert.txt's reader on arbitrary bytes. The file is written by hand, so anything may
// arrive: whatever it holds, the reader names mistakes by line and never lets through a
// setting that would break a mail command or a request (an address with a line break, a
// scheme Skylark does not send to), and what it accepted reads back the same.
#include "core/app/alertSettings.h"

#include "fuzzcheck.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <cstdint>

namespace {

bool clean(const QString& text)
{
    for (const QChar c : text)
        if (c.unicode() < 0x20)
            return false;
    return true;
}

QByteArray written(const AlertSettings& s)
{
    QByteArray out;
    const auto line = [&out](const char* key, const QString& value) {
        if (!value.isEmpty())
            out += QByteArray(key) + '=' + value.toUtf8() + '\n';
    };
    line("mail", s.mail);
    line("from", s.from);
    line("smtp", s.smtp);
    line("smtp_user", s.smtpUser);
    line("smtp_password", s.smtpPassword);
    line("url", s.url);
    line("ping", s.ping);
    line("after", QString::number(s.after));
    if (s.staleHours)
        line("stale", QString::number(*s.staleHours));
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const AlertFile file = parseAlertSettings(bytes);
    for (const QString& mistake : file.mistakes)
        require(mistake.startsWith(QLatin1String("alert.txt:")));
    const AlertSettings& s = file.settings;
    require(s.after >= 1);
    require(!s.staleHours || *s.staleHours >= 1);
    for (const QString* address : {&s.mail, &s.from})
        require(address->isEmpty() ||
                (address->count(QLatin1Char('@')) == 1 && clean(*address) && !address->contains(QLatin1Char(' '))));
    require(s.mail.isEmpty() || !s.smtp.isEmpty());
    for (const QString* url : {&s.smtp, &s.url, &s.ping}) {
        require(clean(*url));
        require(url->isEmpty() || !QUrl(*url).host().isEmpty());
    }
    // What was accepted is a file of its own that reads back the same.
    const AlertFile again = parseAlertSettings(written(s));
    if (again.mistakes.isEmpty()) {
        require(again.settings.mail == s.mail && again.settings.smtp == s.smtp && again.settings.url == s.url &&
                again.settings.ping == s.ping && again.settings.after == s.after);
    }
    return 0;
}
