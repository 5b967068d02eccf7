#include "core/scheduler/uploadRecord.h"

#include "core/base/eventLog.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStringList>

namespace {

constexpr char kLineEnd[] = "\r\n"; // as a spreadsheet writes CSV
constexpr int kTrimAfterDays = 395; // the first line older than this: trim
constexpr int kKeepDays = 366;      // and keep this many days

QString field(const QString& text)
{
    QString out = text;
    out.replace(QLatin1Char(','), QLatin1Char(';'));
    out.replace(QLatin1Char('"'), QLatin1Char('\''));
    for (QChar& c : out)
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n') || c.unicode() < 0x20)
            c = QLatin1Char(' ');
    return out;
}

QStringList linesOf(const QByteArray& bytes)
{
    QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'));
    for (QString& line : lines)
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    return lines;
}

} // namespace

QString formatRecordLine(const RecordLine& line)
{
    return QStringLiteral("%1,%2,%3,%4,%5,%6,%7")
        .arg(line.due.date().toString(Qt::ISODate), line.due.time().toString(QStringLiteral("HH:mm:ss")),
             field(line.file), line.landed ? QStringLiteral("landed") : QStringLiteral("not-sent"))
        .arg(line.tries)
        .arg(line.bytes)
        .arg(field(line.reason));
}

std::optional<RecordLine> parseRecordLine(const QString& text)
{
    const QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() < 7)
        return std::nullopt;
    RecordLine line;
    const QDate date = QDate::fromString(fields[0], Qt::ISODate);
    const QTime time = QTime::fromString(fields[1], QStringLiteral("HH:mm:ss"));
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    line.due = QDateTime(date, time);
    line.file = fields[2];
    if (fields[3] == QLatin1String("landed"))
        line.landed = true;
    else if (fields[3] != QLatin1String("not-sent"))
        return std::nullopt;
    bool ok = false;
    line.tries = fields[4].toInt(&ok);
    if (!ok)
        return std::nullopt;
    line.bytes = fields[5].toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    line.reason = fields.mid(6).join(QLatin1Char(';')); // a hand-edited reason with commas
    return line;
}

UploadRecord::UploadRecord(const QString& folder) : m_path(QDir(folder).filePath(QLatin1String(kUploadRecordFile))) {}

bool UploadRecord::append(const RecordLine& line)
{
    QByteArray bytes;
    {
        // What is there already: nothing (the header goes first), a line cut short by a
        // crash or a full disk (closed, so this one starts anew), and the first line's date.
        QFile before(m_path);
        if (!before.open(QIODevice::ReadOnly) || before.size() == 0) {
            bytes = QByteArray(kUploadRecordHeader) + kLineEnd;
        } else {
            char last = '\n';
            if (before.seek(before.size() - 1) && before.getChar(&last) && last != '\n')
                bytes = kLineEnd;
            before.seek(0);
            for (int i = 0; i < 64 && !before.atEnd() && !m_oldest; ++i)
                if (const auto first = parseRecordLine(QString::fromUtf8(before.readLine()).trimmed()))
                    m_oldest = first->due.date();
        }
    }
    if (!m_oldest)
        m_oldest = line.due.date();
    bytes += formatRecordLine(line).toUtf8() + kLineEnd;

    QFile file(m_path);
    // One write at the end: the line is there whole or not at all.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append) || file.write(bytes) != bytes.size() || !file.flush()) {
        eventlog::warning(QStringLiteral("record: %1 cannot be written (%2); the hour is in the log only")
                              .arg(eventlog::quote(m_path), file.errorString()));
        return false;
    }
    file.close();
    if (m_oldest->daysTo(line.due.date()) > kTrimAfterDays)
        trimBefore(line.due.date().addDays(-kKeepDays));
    return true;
}

void UploadRecord::trimBefore(const QDate& day)
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QStringList lines = linesOf(file.readAll());
    file.close();
    QByteArray kept = QByteArray(kUploadRecordHeader) + kLineEnd;
    qsizetype dropped = 0;
    std::optional<QDate> oldest;
    for (const QString& text : lines) {
        const std::optional<RecordLine> line = parseRecordLine(text);
        if (!line) {
            if (!text.isEmpty() && text != QLatin1String(kUploadRecordHeader))
                ++dropped; // nothing to date it by; it goes with the old lines
            continue;
        }
        if (line->due.date() < day) {
            ++dropped;
            continue;
        }
        if (!oldest)
            oldest = line->due.date();
        kept += text.toUtf8() + kLineEnd;
    }
    // The old record stays whole until the new one is complete on disk.
    QSaveFile out(m_path);
    if (!out.open(QIODevice::WriteOnly) || out.write(kept) != kept.size() || !out.commit()) {
        eventlog::warning(QStringLiteral("record: %1 could not be trimmed (%2); it is kept as it is")
                              .arg(eventlog::quote(m_path), out.errorString()));
        return;
    }
    m_oldest = oldest.value_or(day);
    eventlog::info(QStringLiteral("record: %1 lines older than %2 taken out of %3")
                       .arg(dropped)
                       .arg(day.toString(Qt::ISODate), eventlog::quote(m_path)));
}

int UploadRecord::lostInARow() const
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    // A day of lost hours is plenty to go back through.
    constexpr qint64 kTail = qint64{64} * 1024;
    if (file.size() > kTail)
        file.seek(file.size() - kTail);
    const QStringList lines = linesOf(file.readAll());
    int lost = 0;
    for (qsizetype i = lines.size(); i-- > 0;) {
        const std::optional<RecordLine> line = parseRecordLine(lines[i]);
        if (!line || line->reason == QLatin1String(kProgramEndedReason))
            continue; // the header, a damaged line, the part of one the seek cut, an end
        if (line->landed)
            break;
        ++lost;
    }
    return lost;
}
