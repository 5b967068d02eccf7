#include "core/app/settingsFile.h"

#include "core/base/runtimeFault.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QTemporaryFile>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <iconv.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <string>

namespace {

// Position of the first comma at or after 1-based position start; 0 when none.
qsizetype findComma(const QString& text, qsizetype start)
{
    const qsizetype at = text.indexOf(QLatin1Char(','), start - 1);
    return at < 0 ? 0 : at + 1;
}

// 1-based substring: a start past the end gives the empty text, a count running past
// the end takes what is there, a negative count is a fault.
QString mid(const QString& text, qsizetype start, qsizetype count)
{
    if (count < 0)
        throw RuntimeFault("negative field length in settings line");
    if (start > text.size())
        return {};
    return text.mid(start - 1, count);
}

// The two platform calls of the settings file, each with both its sides.
#ifdef _WIN32

// Code page 932 is the system's own; an undecodable byte becomes what the system puts
// in its place.
QString decodeShiftJis(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return {};
    const int size = static_cast<int>(bytes.size());
    const int length = MultiByteToWideChar(932, 0, bytes.constData(), size, nullptr, 0);
    if (length <= 0)
        return QString::fromLatin1(bytes);
    std::wstring text(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(932, 0, bytes.constData(), size, text.data(), length);
    return QString::fromStdWString(text);
}

// Wide paths, since the folder's name need not fit the ANSI code page.
bool replaceFile(const QString& from, const QString& to)
{
    return MoveFileExW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(from).utf16()),
                       reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(to).utf16()),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

#else

QString decodeShiftJis(const QByteArray& bytes)
{
    // glibc's iconv knows CP932 (Shift_JIS with the Windows extensions); the Qt build
    // may have no ICU, so it is not asked.
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return QString::fromLatin1(bytes);
    std::string in(bytes.constData(), static_cast<size_t>(bytes.size()));
    std::string out(in.size() * 3 + 4, '\0');
    char* inPtr = in.data();
    size_t inLeft = in.size();
    char* outPtr = out.data();
    size_t outLeft = out.size();
    while (inLeft > 0) {
        if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1))
            break;
        // An undecodable byte becomes U+FFFD rather than cutting the line short.
        if (outLeft < 3)
            break;
        *outPtr++ = '\xEF';
        *outPtr++ = '\xBF';
        *outPtr++ = '\xBD';
        outLeft -= 3;
        ++inPtr;
        --inLeft;
    }
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return QString::fromUtf8(out.data(), static_cast<qsizetype>(out.size()));
}

// rename() replaces the target in one step; a reader sees the old file or the new one.
bool replaceFile(const QString& from, const QString& to)
{
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

#endif

} // namespace

QString formatSettingsRecord(const SettingsRecord& fields)
{
    QString line;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0)
            line += QLatin1Char(',');
        // A line break pasted into a box would split the one-line record, and the next
        // start would read shifted fields or refuse to start: breaks are left out.
        QString field = fields[i];
        field.remove(QLatin1Char('\r')).remove(QLatin1Char('\n'));
        line += QLatin1Char('"') + field + QLatin1Char('"');
    }
    return line + QStringLiteral("\r\n");
}

SettingsRecord parseSettingsRecord(const QString& line)
{
    // All five searches come first; a search that finds nothing gives 0 and the next
    // one starts again from the beginning.
    const qsizetype c1 = findComma(line, 1);
    const qsizetype c2 = findComma(line, c1 + 1);
    const qsizetype c3 = findComma(line, c2 + 1);
    const qsizetype c4 = findComma(line, c3 + 1);
    const qsizetype c5 = findComma(line, c4 + 1);

    SettingsRecord r;
    r[0] = mid(line, 2, c1 - 3);
    r[1] = mid(line, c1 + 2, c2 - c1 - 3);
    r[2] = mid(line, c2 + 2, c3 - c2 - 3);
    r[3] = mid(line, c3 + 2, c4 - c3 - 3);
    r[4] = mid(line, c4 + 2, c5 - c4 - 3);
    r[5] = mid(line, c5 + 2, 2);
    return r;
}

QString lastSettingsLine(const QByteArray& contents)
{
    qsizetype end = contents.size();
    // A line break at the very end closes the last line; it does not open a new one.
    if (end > 0 && contents[end - 1] == '\n')
        --end;
    if (end > 0 && contents[end - 1] == '\r')
        --end;
    qsizetype begin = end;
    while (begin > 0 && contents[begin - 1] != '\n' && contents[begin - 1] != '\r')
        --begin;
    const QByteArray bytes = contents.mid(begin, end - begin);

    auto utf8 = QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return decodeShiftJis(bytes);
}

QString readSettingsLastLine(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw RuntimeFault("cannot open settings file");
    const QByteArray contents = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw RuntimeFault("cannot read settings file");
    return lastSettingsLine(contents);
}

bool writeSettingsFile(const QString& fileName, const SettingsRecord& fields)
{
    // Written beside the old file, checked, then renamed over it: a full disk or a
    // crash never leaves a cut-short or empty settings file. QSaveFile is not enough
    // here: it reports success when the disk fills up part way through a write.
    const QFileInfo target(fileName);
    QString written;
    {
        QTemporaryFile temp(target.absolutePath() + QStringLiteral("/.ftp.txt.XXXXXX"));
        if (!temp.open())
            return false; // a new file is created for its owner only (0600)
        if (target.exists())
            temp.setPermissions(QFile::permissions(fileName));
        const QByteArray bytes = formatSettingsRecord(fields).toUtf8();
        if (temp.write(bytes) != bytes.size() || !temp.flush())
            return false;
        if (QFileInfo(temp.fileName()).size() != bytes.size())
            return false;
#ifdef _WIN32
        // On the disk before it replaces the old file, as elsewhere: after a power cut the
        // replace may have happened and the data not, which leaves an empty ftp.txt
        // (MOVEFILE_WRITE_THROUGH waits for the rename alone, not for the data).
        if (!FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(temp.handle()))))
            return false;
#else
        if (::fsync(temp.handle()) != 0)
            return false;
#endif
        // QTemporaryFile::close() keeps its handle open (only its end closes it), and
        // Windows renames no open file: the file is kept, and closed here.
        temp.setAutoRemove(false);
        written = temp.fileName();
    }
    if (!replaceFile(written, target.absoluteFilePath())) {
        QFile::remove(written);
        return false;
    }
    return true;
}
