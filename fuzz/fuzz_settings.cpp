// The settings reader on arbitrary file contents. ftp.txt is edited by hand and was
// written by older versions on other systems, so any bytes may arrive. A RuntimeFault
// is the reader's way of saying the record is bad and is fine; anything else (another
// exception, a sanitizer report, a broken invariant) is a fault.
#include "core/app/settingsFile.h"
#include "core/base/runtimeFault.h"

#include "fuzzcheck.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// The reader must read back whatever the writer wrote, as long as the fields are ones
// the writer can represent: no comma (fields are found by counting commas), no line
// break, a two-character second.
void checkRoundTrip(const QString& text)
{
    SettingsRecord fields;
    const auto parts = text.split(QLatin1Char('\x1f'));
    for (std::size_t i = 0; i < fields.size() && i < static_cast<std::size_t>(parts.size()); ++i)
        fields[i] = parts[static_cast<qsizetype>(i)];
    for (const QString& f : fields)
        if (f.contains(QLatin1Char(',')) || f.contains(QLatin1Char('\r')) || f.contains(QLatin1Char('\n')))
            return;
    if (fields[5].size() != 2)
        return;
    const QString line = lastSettingsLine(formatSettingsRecord(fields).toUtf8());
    const SettingsRecord back = parseSettingsRecord(line);
    require(back == fields);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QString line;
    try {
        line = lastSettingsLine(bytes);
    } catch (const RuntimeFault&) {
        std::abort(); // reading the last line has no fault of its own to report
    }
    require(!line.contains(QLatin1Char('\r')) && !line.contains(QLatin1Char('\n')));
    try {
        const SettingsRecord r = parseSettingsRecord(line);
        for (const QString& f : r)
            require(f.size() <= line.size());
    } catch (const RuntimeFault&) {
    }

    // Well-formed UTF-8 input (invalid bytes become U+FFFD, which the writer keeps).
    try {
        checkRoundTrip(QString::fromUtf8(bytes));
    } catch (const RuntimeFault&) {
        std::abort(); // a record the writer made must always read back
    }
    return 0;
}
