#pragma once
// A message to the owner as a mail. libcurl sends a mail's text as it is given, so the
// text is a whole one: a Date and a Message-ID, the subject as RFC 2047 encoded words
// (the subject is Japanese), a text/plain body in UTF-8 and base64, CRLF line ends.

#include <QByteArray>
#include <QDateTime>
#include <QString>

// The subject as encoded words of at most 75 characters each, folded onto lines of
// their own; plain ASCII as it is.
QByteArray encodedHeader(const QString& text);

QByteArray formatMail(const QString& from, const QString& to, const QString& subject, const QString& text,
                      const QDateTime& now);
