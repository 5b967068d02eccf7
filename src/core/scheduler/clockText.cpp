#include "core/scheduler/clockText.h"

#include "core/base/runtimeFault.h"

#include <cctype>
#include <cfenv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace {

// Length of the longest prefix of s that reads as a decimal number: sign, digits,
// a point, more digits, an exponent (E or D, as the old number reader took).
size_t numberPrefix(const std::string& s)
{
    size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        ++i;
    size_t digits = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
        ++i;
        ++digits;
    }
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
        size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-'))
            ++j;
        const size_t expStart = j;
        while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j])))
            ++j;
        if (j > expStart)
            i = j;
    }
    return i;
}

double parse(std::string s, size_t length)
{
    s.resize(length);
    for (char& c : s)
        if (c == 'd' || c == 'D')
            c = 'e';
    const double v = std::strtod(s.c_str(), nullptr);
    // A huge exponent must not turn into infinity and then into nonsense downstream.
    return std::isfinite(v) ? v : 0.0;
}

} // namespace

QString clockText(const QTime& time)
{
    return time.toString(QStringLiteral("H:mm:ss"));
}

ClockParts SplitClockText(const QString& text)
{
    ClockParts p;
    p.hour = text.left(2);
    if (p.hour.size() >= 2 && p.hour[1] == QLatin1Char(':'))
        p.hour = QLatin1Char('0') + text.left(1);
    if (p.hour.startsWith(QLatin1Char('0'))) {
        p.minute = text.mid(2, 2);
        p.second = text.mid(5, 2);
    } else {
        p.minute = text.mid(3, 2);
        p.second = text.mid(6, 2);
    }
    return p;
}

double numericValue(const QString& text)
{
    std::string s;
    s.reserve(static_cast<size_t>(text.size()));
    for (QChar c : text) {
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n'))
            continue;
        // Only ASCII can be part of a number; anything else ends it.
        s.push_back(c.unicode() < 128 ? static_cast<char>(c.unicode()) : '\x01');
    }
    return parse(s, numberPrefix(s));
}

double strictNumber(const QString& text)
{
    const std::string s = text.trimmed().toStdString();
    const size_t length = numberPrefix(s);
    if (length == 0 || length != s.size())
        throw RuntimeFault("not a number: " + s);
    return parse(s, length);
}

long programEndWait(double endHour, double endMinute, double endSecond, double hour, double minute, double second)
{
    const double target = endHour * 3600 + endMinute * 60 + endSecond;
    const double now = hour * 3600 + minute * 60 + second;
    const double wait = now > target ? 24.0 * 3600 - now + target : target - now;
    // The default rounding mode sends halves to the even neighbour.
    std::fesetround(FE_TONEAREST);
    const double rounded = std::nearbyint(wait);
    if (!std::isfinite(rounded) || std::fabs(rounded) > 2147483647.0)
        throw RuntimeFault("end time out of range");
    return static_cast<long>(rounded);
}
