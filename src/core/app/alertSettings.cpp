#include "core/app/alertSettings.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QUrl>

#include <functional>
#include <map>

namespace {

bool isAddress(const QString& text)
{
    // What a mail server takes in MAIL FROM and RCPT TO: one @ with something on either
    // side, and nothing that would end the command or the header early.
    const qsizetype at = text.indexOf(QLatin1Char('@'));
    if (at <= 0 || at != text.lastIndexOf(QLatin1Char('@')) || at == text.size() - 1)
        return false;
    for (const QChar c : text)
        if (c.isSpace() || c == QLatin1Char('<') || c == QLatin1Char('>') || c == QLatin1Char(',') ||
            c.unicode() < 0x20)
            return false;
    return true;
}

// Each check keeps the value in `into` when it finds no mistake, and returns the mistake.
QString addressMistake(const QString& value, QString& into)
{
    if (!isAddress(value))
        return QStringLiteral("is not a mail address");
    into = value;
    return {};
}

QString anyText(const QString& value, QString& into)
{
    into = value;
    return {};
}

// A web address Skylark sends to: http or https, with a host.
QString webAddressMistake(const QString& value, QString& into)
{
    const QUrl url(value, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) || url.host().isEmpty())
        return QStringLiteral("is not an http:// or https:// address");
    into = value;
    return {};
}

QString smtpMistake(const QString& value, QString& into)
{
    const QUrl url(value, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != QLatin1String("smtps") && scheme != QLatin1String("smtp")))
        return QStringLiteral("must be smtps://host:465, or smtp://host:587 with STARTTLS");
    if (!url.path().isEmpty() && url.path() != QLatin1String("/"))
        return QStringLiteral("names a path; a mail server is only host and port");
    if (!url.userInfo().isEmpty())
        return QStringLiteral("holds a login; it goes into smtp_user and smtp_password");
    into = value;
    return {};
}

QString numberMistake(const QString& value, int& into)
{
    bool ok = false;
    const int n = value.toInt(&ok);
    if (!ok || n < 1 || n > 100000)
        return QStringLiteral("must be a whole number from 1");
    into = n;
    return {};
}

QString hoursMistake(const QString& value, std::optional<int>& into)
{
    int hours = 0;
    QString mistake = numberMistake(value, hours);
    if (mistake.isEmpty())
        into = hours;
    return mistake;
}

} // namespace

QStringList AlertSettings::secrets() const
{
    return {smtpPassword, QUrl(url).password(), QUrl(ping).password()};
}

QString AlertSettings::shown(const QString& address)
{
    return QUrl(address).toString(QUrl::RemoveUserInfo);
}

bool isLoopbackHost(const QString& host)
{
    QString name = host;
    if (name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']')))
        name = name.mid(1, name.size() - 2);
    if (name.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 || name == QLatin1String("::1") ||
        name == QLatin1String("0:0:0:0:0:0:0:1"))
        return true;
    const QStringList parts = name.split(QLatin1Char('.'));
    if (parts.size() != 4 || parts[0] != QLatin1String("127"))
        return false;
    for (const QString& part : parts) {
        bool ok = false;
        const int n = part.toInt(&ok);
        if (!ok || n < 0 || n > 255 || part.isEmpty())
            return false;
    }
    return true;
}

AlertFile parseAlertSettings(const QByteArray& contents)
{
    AlertFile file;
    AlertSettings& s = file.settings;

    using Setter = std::function<QString(const QString&)>; // the mistake, or empty
    // A value kept when `check` finds no mistake in it.
    const auto checked = [](auto& into, QString (*check)(const QString&, decltype(into)&)) -> Setter {
        return [&into, check](const QString& v) { return check(v, into); };
    };
    const std::map<QString, Setter> keys = {
        {QStringLiteral("mail"), checked(s.mail, addressMistake)},
        {QStringLiteral("from"), checked(s.from, addressMistake)},
        {QStringLiteral("smtp"), checked(s.smtp, smtpMistake)},
        {QStringLiteral("smtp_user"), checked(s.smtpUser, anyText)},
        {QStringLiteral("smtp_password"), checked(s.smtpPassword, anyText)},
        {QStringLiteral("url"), checked(s.url, webAddressMistake)},
        {QStringLiteral("ping"), checked(s.ping, webAddressMistake)},
        {QStringLiteral("after"), checked(s.after, numberMistake)},
        {QStringLiteral("stale"), checked(s.staleHours, hoursMistake)},
    };

    const auto mistake = [&file](qsizetype line, const QString& what) {
        file.mistakes << QStringLiteral("%1:%2: %3").arg(QLatin1String(kAlertFile)).arg(line).arg(what);
    };
    std::map<QString, qsizetype> seen;
    const QByteArrayList lines = contents.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const qsizetype number = i + 1;
        // Line by line, so text that is not UTF-8 costs its own line only.
        auto utf8 = QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString line = utf8.decode(lines[i]);
        if (utf8.hasError()) {
            mistake(number, QStringLiteral("not UTF-8 text"));
            continue;
        }
        if (i == 0 && line.startsWith(QChar(0xFEFF)))
            line.remove(0, 1);
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0) {
            mistake(number, QStringLiteral("not key=value"));
            continue;
        }
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (key.contains(QRegularExpression(QStringLiteral("\\s")))) {
            // Not echoed: a line such as "smtp_password x=y" holds part of a password.
            mistake(number, QStringLiteral("the key before = has a blank in it"));
            continue;
        }
        const auto setter = keys.find(key);
        if (setter == keys.end()) {
            mistake(number, QStringLiteral("unknown key \"%1\"").arg(key));
            continue;
        }
        if (const auto before = seen.find(key); before != seen.end()) {
            mistake(number, QStringLiteral("\"%1\" is set already on line %2").arg(key).arg(before->second));
            continue;
        }
        seen[key] = number;
        if (value.isEmpty())
            continue; // as if not there
        if (const QString why = setter->second(value); !why.isEmpty())
            mistake(number, QStringLiteral("%1 %2").arg(key, why));
    }

    // What goes together.
    const auto lineOf = [&seen](const char* key) {
        return seen.count(QLatin1String(key)) ? seen[QLatin1String(key)] : 0;
    };
    if (!s.mail.isEmpty() && s.smtp.isEmpty()) {
        mistake(lineOf("mail"), QStringLiteral("mail needs smtp, the mail server to send through"));
        s.mail.clear();
    }
    if (s.mail.isEmpty() && !s.smtp.isEmpty() && lineOf("mail") == 0)
        mistake(lineOf("smtp"), QStringLiteral("smtp is set, but mail, who gets the mails, is not"));
    if (s.smtpUser.isEmpty() != s.smtpPassword.isEmpty())
        mistake(lineOf(s.smtpUser.isEmpty() ? "smtp_password" : "smtp_user"),
                QStringLiteral("smtp_user and smtp_password go together"));
    return file;
}

std::optional<AlertFile> readAlertSettings(const QString& folder)
{
    QFile file(QDir(folder).filePath(QLatin1String(kAlertFile)));
    if (!file.exists())
        return std::nullopt;
    if (!file.open(QIODevice::ReadOnly)) {
        AlertFile unreadable;
        unreadable.mistakes
            << QStringLiteral("%1: cannot be read (%2)").arg(QLatin1String(kAlertFile), file.errorString());
        return unreadable;
    }
    return parseAlertSettings(file.read(qint64{64} * 1024));
}
