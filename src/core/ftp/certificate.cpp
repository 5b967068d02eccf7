#include "core/ftp/certificate.h"

#include <QByteArrayView>
#include <QCryptographicHash>
#include <QTimeZone>

#include <cstdint>

namespace {

// DER tags used here.
constexpr unsigned char kBoolean = 0x01;
constexpr unsigned char kInteger = 0x02;
constexpr unsigned char kOctetString = 0x04;
constexpr unsigned char kOid = 0x06;
constexpr unsigned char kUtf8String = 0x0C;
constexpr unsigned char kUniversalString = 0x1C;
constexpr unsigned char kBmpString = 0x1E;
constexpr unsigned char kUtcTime = 0x17;
constexpr unsigned char kGeneralizedTime = 0x18;
constexpr unsigned char kSequence = 0x30;
constexpr unsigned char kSet = 0x31;
constexpr unsigned char kVersion = 0xA0;    // [0] EXPLICIT, in the certificate's body
constexpr unsigned char kExtensions = 0xA3; // [3] EXPLICIT
constexpr unsigned char kDnsName = 0x82;    // [2] IMPLICIT IA5String, in a GeneralName
constexpr unsigned char kIpAddress = 0x87;  // [7] IMPLICIT OCTET STRING
constexpr qsizetype kLongestText = 120;     // characters of a subject, an issuer or a name shown
constexpr qsizetype kMostNameText = 120;    // characters of subjectAltName's names shown, all together

struct Element {
    unsigned char tag = 0;
    QByteArrayView content;
    QByteArrayView whole; // tag and length included
};

// Reads the elements of one level of DER, one after the other.
class DerReader {
public:
    explicit DerReader(QByteArrayView data) : m_rest(data) {}

    bool atEnd() const { return m_rest.isEmpty(); }
    unsigned char peek() const { return m_rest.isEmpty() ? 0 : static_cast<unsigned char>(m_rest[0]); }

    std::optional<Element> next()
    {
        if (m_rest.size() < 2)
            return std::nullopt;
        const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(m_rest[i]); };
        Element e;
        e.tag = byte(0);
        if ((e.tag & 0x1F) == 0x1F)
            return std::nullopt; // a tag number of several bytes: none of what is read here
        qsizetype length = byte(1);
        qsizetype header = 2;
        if (length & 0x80) {
            const qsizetype count = length & 0x7F;
            if (count == 0 || count > 4 || m_rest.size() < 2 + count)
                return std::nullopt;
            length = 0;
            for (qsizetype i = 0; i < count; ++i)
                length = (length << 8) | byte(2 + i);
            header += count;
        }
        if (length < 0 || length > m_rest.size() - header)
            return std::nullopt;
        e.content = m_rest.sliced(header, length);
        e.whole = m_rest.first(header + length);
        m_rest = m_rest.sliced(header + length);
        return e;
    }

    std::optional<Element> next(unsigned char tag)
    {
        if (peek() != tag)
            return std::nullopt;
        return next();
    }

private:
    QByteArrayView m_rest;
};

// What goes into the box stays one line of readable text: no control characters, no
// characters that turn the text around, and not without end.
QString shown(QString text)
{
    for (QChar& c : text) {
        const auto category = c.category();
        if (category == QChar::Other_Control || category == QChar::Other_Format || category == QChar::Separator_Line ||
            category == QChar::Separator_Paragraph)
            c = QChar::ReplacementCharacter;
    }
    if (text.size() > kLongestText)
        text = text.left(kLongestText) + QStringLiteral("…");
    return text;
}

QString decodedString(const Element& e)
{
    const QByteArray bytes = e.content.toByteArray();
    switch (e.tag) {
    case kUtf8String:
        return QString::fromUtf8(bytes);
    case kBmpString: {
        QString out;
        for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
            out += QChar(static_cast<char16_t>((static_cast<unsigned char>(bytes[i]) << 8) |
                                               static_cast<unsigned char>(bytes[i + 1])));
        return out;
    }
    case kUniversalString: {
        QString out;
        for (qsizetype i = 0; i + 3 < bytes.size(); i += 4) {
            const char32_t c = (char32_t(static_cast<unsigned char>(bytes[i])) << 24) |
                               (char32_t(static_cast<unsigned char>(bytes[i + 1])) << 16) |
                               (char32_t(static_cast<unsigned char>(bytes[i + 2])) << 8) |
                               char32_t(static_cast<unsigned char>(bytes[i + 3]));
            out += QString::fromUcs4(&c, 1);
        }
        return out;
    }
    default: // PrintableString, IA5String, TeletexString and the like: ASCII in practice
        return QString::fromLatin1(bytes);
    }
}

// The dotted form of an object identifier, for an attribute that has no short name.
QString dottedOid(QByteArrayView oid)
{
    QStringList arcs;
    std::uint64_t value = 0;
    for (qsizetype i = 0; i < oid.size(); ++i) {
        const auto b = static_cast<unsigned char>(oid[i]);
        if (value > (UINT64_MAX >> 7))
            return QStringLiteral("?");
        value = (value << 7) | (b & 0x7F);
        if (b & 0x80)
            continue;
        if (arcs.isEmpty()) {
            const std::uint64_t first = value < 80 ? value / 40 : 2;
            arcs << QString::number(first) << QString::number(value - first * 40);
        } else {
            arcs << QString::number(value);
        }
        value = 0;
    }
    return arcs.join(QLatin1Char('.'));
}

QString attributeName(QByteArrayView oid)
{
    struct Known {
        const char* encoded;
        const char* name;
    };
    static const Known known[] = {
        {"\x55\x04\x03", "CN"},
        {"\x55\x04\x06", "C"},
        {"\x55\x04\x07", "L"},
        {"\x55\x04\x08", "ST"},
        {"\x55\x04\x0A", "O"},
        {"\x55\x04\x0B", "OU"},
        {"\x2A\x86\x48\x86\xF7\x0D\x01\x09\x01", "emailAddress"},
        {"\x09\x92\x26\x89\x93\xF2\x2C\x64\x01\x19", "DC"},
    };
    for (const Known& k : known)
        if (oid == QByteArrayView(k.encoded))
            return QString::fromLatin1(k.name);
    return dottedOid(oid);
}

// A Name: "O=Example, CN=cam.example.jp", in the order encoded.
std::optional<QString> readName(QByteArrayView content)
{
    QStringList parts;
    DerReader rdns(content);
    while (!rdns.atEnd()) {
        const auto rdn = rdns.next(kSet);
        if (!rdn)
            return std::nullopt;
        DerReader attributes(rdn->content);
        while (!attributes.atEnd()) {
            const auto attribute = attributes.next(kSequence);
            if (!attribute)
                return std::nullopt;
            DerReader fields(attribute->content);
            const auto oid = fields.next(kOid);
            const auto value = fields.next();
            if (!oid || !value)
                return std::nullopt;
            parts << attributeName(oid->content) + QLatin1Char('=') + decodedString(*value);
        }
    }
    return shown(parts.join(QStringLiteral(", ")));
}

std::optional<QDateTime> readTime(const Element& e)
{
    const QString text = QString::fromLatin1(e.content.toByteArray());
    QString full;
    if (e.tag == kUtcTime && text.size() == 13) // YYMMDDHHMMSSZ; 50 to 99 are the 1900s
        full = (text.left(2).toInt() >= 50 ? QStringLiteral("19") : QStringLiteral("20")) + text;
    else if (e.tag == kGeneralizedTime && text.size() == 15)
        full = text;
    else
        return std::nullopt;
    if (!full.endsWith(QLatin1Char('Z')))
        return std::nullopt;
    const QDate date = QDate::fromString(full.left(8), QStringLiteral("yyyyMMdd"));
    const QTime time = QTime::fromString(full.mid(8, 6), QStringLiteral("HHmmss"));
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time, QTimeZone::utc());
}

QString ipAddressText(QByteArrayView bytes)
{
    QStringList parts;
    if (bytes.size() == 4) {
        for (const char b : bytes)
            parts << QString::number(static_cast<unsigned char>(b));
        return parts.join(QLatin1Char('.'));
    }
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
        parts << QString::number((static_cast<unsigned char>(bytes[i]) << 8) | static_cast<unsigned char>(bytes[i + 1]),
                                 16);
    return parts.join(QLatin1Char(':'));
}

// The DNS names and addresses of a subjectAltName extension's value.
std::optional<QStringList> readAltNames(QByteArrayView value)
{
    DerReader outer(value);
    const auto names = outer.next(kSequence);
    if (!names)
        return std::nullopt;
    QStringList out;
    qsizetype length = 0;
    DerReader each(names->content);
    while (!each.atEnd()) {
        const auto name = each.next();
        if (!name)
            return std::nullopt;
        if (length > kMostNameText) { // a certificate for hundreds of names: the first ones tell
            out << QStringLiteral("…");
            break;
        }
        if (name->tag == kDnsName)
            out << shown(QString::fromLatin1(name->content.toByteArray()));
        else if (name->tag == kIpAddress && (name->content.size() == 4 || name->content.size() == 16))
            out << ipAddressText(name->content);
        length += out.isEmpty() ? 0 : out.last().size() + 2;
    }
    return out;
}

std::optional<QStringList> readExtensions(QByteArrayView content)
{
    static const QByteArrayView altNameOid("\x55\x1D\x11");
    DerReader outer(content);
    const auto list = outer.next(kSequence);
    if (!list)
        return std::nullopt;
    DerReader extensions(list->content);
    while (!extensions.atEnd()) {
        const auto extension = extensions.next(kSequence);
        if (!extension)
            return std::nullopt;
        DerReader fields(extension->content);
        const auto oid = fields.next(kOid);
        fields.next(kBoolean); // critical, when said
        const auto value = fields.next(kOctetString);
        if (!oid || !value)
            return std::nullopt;
        if (oid->content == altNameOid)
            return readAltNames(value->content);
    }
    return QStringList();
}

std::optional<QByteArray> derOfPem(const QByteArray& pem)
{
    const QByteArray begin = "-----BEGIN CERTIFICATE-----";
    const QByteArray end = "-----END CERTIFICATE-----";
    const qsizetype from = pem.indexOf(begin);
    const qsizetype to = pem.indexOf(end, from < 0 ? 0 : from);
    if (from < 0 || to < 0)
        return std::nullopt;
    const QByteArray body = pem.mid(from + begin.size(), to - from - begin.size());
    return QByteArray::fromBase64(body);
}

} // namespace

std::optional<Certificate> readCertificate(const QByteArray& der)
{
    DerReader top(der);
    const auto certificate = top.next(kSequence);
    if (!certificate || !top.atEnd())
        return std::nullopt;
    DerReader parts(certificate->content);
    const auto body = parts.next(kSequence);
    if (!body)
        return std::nullopt;
    DerReader fields(body->content);
    fields.next(kVersion); // absent in a version 1 certificate
    const auto serial = fields.next(kInteger);
    const auto signature = fields.next(kSequence);
    const auto issuer = fields.next(kSequence);
    const auto validity = fields.next(kSequence);
    const auto subject = fields.next(kSequence);
    const auto publicKey = fields.next(kSequence);
    if (!serial || !signature || !issuer || !validity || !subject || !publicKey)
        return std::nullopt;

    Certificate c;
    c.der = der;
    const auto subjectText = readName(subject->content);
    const auto issuerText = readName(issuer->content);
    if (!subjectText || !issuerText)
        return std::nullopt;
    c.subject = *subjectText;
    c.issuer = *issuerText;
    c.subjectId = subject->content.toByteArray();
    c.issuerId = issuer->content.toByteArray();
    c.publicKey = publicKey->whole.toByteArray();

    DerReader dates(validity->content);
    const auto notBefore = dates.next();
    const auto notAfter = dates.next();
    const auto from = notBefore ? readTime(*notBefore) : std::nullopt;
    const auto until = notAfter ? readTime(*notAfter) : std::nullopt;
    if (!from || !until)
        return std::nullopt;
    c.notBefore = *from;
    c.notAfter = *until;

    // The unique identifiers of version 2 ([1], [2]) may come before the extensions.
    while (!fields.atEnd() && fields.peek() != kExtensions)
        if (!fields.next())
            return std::nullopt;
    if (const auto extensions = fields.next(kExtensions)) {
        const auto names = readExtensions(extensions->content);
        if (!names)
            return std::nullopt;
        c.names = *names;
    }
    return c;
}

QString certificateFingerprint(const QByteArray& der)
{
    return QString::fromLatin1(QCryptographicHash::hash(der, QCryptographicHash::Sha256).toHex(':').toUpper());
}

QString publicKeyPin(const QByteArray& publicKey)
{
    return QStringLiteral("sha256//") +
           QString::fromLatin1(QCryptographicHash::hash(publicKey, QCryptographicHash::Sha256).toBase64());
}

std::optional<Certificate> serverCertificate(const QList<QByteArray>& pems)
{
    QList<Certificate> chain;
    for (const QByteArray& pem : pems) {
        const auto der = derOfPem(pem);
        if (const auto c = der ? readCertificate(*der) : std::nullopt)
            chain << *c;
    }
    for (const Certificate& candidate : chain) {
        bool issuedAnother = false;
        for (const Certificate& other : chain)
            issuedAnother = issuedAnother || (&other != &candidate && other.issuerId == candidate.subjectId);
        if (!issuedAnother)
            return candidate;
    }
    if (chain.isEmpty())
        return std::nullopt;
    return chain.first();
}
