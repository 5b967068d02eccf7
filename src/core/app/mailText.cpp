#include "core/app/mailText.h"

#include <QRandomGenerator>
#include <QStringList>

namespace {

constexpr char kCrLf[] = "\r\n";

bool plainAscii(const QString& text)
{
    for (const QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            return false;
    return true;
}

} // namespace

QByteArray encodedHeader(const QString& text)
{
    if (plainAscii(text))
        return text.toLatin1();
    // "=?UTF-8?B?" and "?=" leave 63 characters of base64, 45 bytes of text: whole
    // characters only, so each word decodes on its own.
    constexpr qsizetype kBytesPerWord = 45;
    QByteArrayList words;
    QByteArray chunk;
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype step = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QByteArray character = text.mid(i, step).toUtf8();
        if (chunk.size() + character.size() > kBytesPerWord) {
            words << "=?UTF-8?B?" + chunk.toBase64() + "?=";
            chunk.clear();
        }
        chunk += character;
        i += step;
    }
    if (!chunk.isEmpty())
        words << "=?UTF-8?B?" + chunk.toBase64() + "?=";
    return words.join(QByteArray(kCrLf) + ' ');
}

QByteArray formatMail(const QString& from, const QString& to, const QString& subject, const QString& text,
                      const QDateTime& now)
{
    const QString domain = from.mid(from.lastIndexOf(QLatin1Char('@')) + 1);
    const QByteArray id = QStringLiteral("<%1.%2@%3>")
                              .arg(now.toString(QStringLiteral("yyyyMMddHHmmss")))
                              .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'))
                              .arg(domain)
                              .toLatin1();
    QByteArray mail;
    mail += "Date: " + now.toString(Qt::RFC2822Date).toLatin1() + kCrLf;
    mail += "From: <" + from.toUtf8() + ">" + kCrLf;
    mail += "To: <" + to.toUtf8() + ">" + kCrLf;
    mail += "Message-ID: " + id + kCrLf;
    mail += "Subject: " + encodedHeader(subject) + kCrLf;
    mail += QByteArray("MIME-Version: 1.0") + kCrLf;
    mail += QByteArray("Content-Type: text/plain; charset=UTF-8") + kCrLf;
    mail += QByteArray("Content-Transfer-Encoding: base64") + kCrLf;
    mail += kCrLf;
    QString body = text;
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    body.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    const QByteArray encoded = body.toUtf8().toBase64();
    for (qsizetype i = 0; i < encoded.size(); i += 76)
        mail += encoded.mid(i, 76) + kCrLf;
    return mail;
}
