#include "core/base/eventLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QStringList>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

Q_LOGGING_CATEGORY(lcEvents, "skylark.events")

namespace {

// How long a file that failed is left alone: a full disk or a vanished folder must not
// cost a failing open on every line.
constexpr qint64 kRetryMs = qint64{30} * 1000;
// A server can answer with pages of text; one event stays one readable line.
constexpr qsizetype kMaxTextChars = 4000;

struct State {
    QMutex mutex;
    QString folder;
    QFile file;
    bool active = false;
    QElapsedTimer sinceFailure; // valid while the file is given a rest
    bool failureTold = false;   // standard error has been told the file fails, and it has not worked since
    QStringList secrets;        // longest first, so a secret inside another goes with it
    QtMessageHandler previous = nullptr;
};

// Never destroyed: Qt may still report something while statics are torn down.
State& state()
{
    static State* s = new State;
    return *s;
}

const char* levelName(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "DEBUG";
    case QtInfoMsg:
        return "INFO";
    case QtWarningMsg:
        return "WARN";
    case QtCriticalMsg:
        return "ERROR";
    case QtFatalMsg:
        return "FATAL";
    }
    return "INFO";
}

QString timestamp(const QDateTime& now)
{
    // Qt's ISO format leaves the offset out for local time; a log read after a change of
    // time zone or summer time needs it.
    const int offset = now.offsetFromUtc();
    const int minutes = (offset < 0 ? -offset : offset) / 60;
    return now.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + QLatin1Char(offset < 0 ? '-' : '+') +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

// One event, one line: line breaks and other control characters a server's reply or a
// file name may carry are shown as escapes, so nothing can forge or split a line.
QString oneLine(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == '\n')
            out += QLatin1String("\\n");
        else if (u == '\r')
            out += QLatin1String("\\r");
        else if (u == '\t')
            out += QLatin1Char(' ');
        else if (u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0))
            out += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        else if (u == 0x2028 || u == 0x2029)
            out += QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

// What quote() makes of a value inside its quotes.
QString escaped(const QString& value)
{
    QString v = value;
    v.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    v.replace(QLatin1Char('"'), QLatin1String("\\\""));
    return v;
}

void scrub(QString& text, const QStringList& secrets)
{
    for (const QString& secret : secrets)
        text.replace(secret, QLatin1String("***"));
}

void toStandardError(const QByteArray& line)
{
    // Errors are ignored: a closed or full standard error must not stop the program.
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
    std::fflush(stderr);
}

QByteArray lineOf(const char* level, const QString& text)
{
    return (timestamp(QDateTime::currentDateTime()) + QLatin1Char(' ') + QLatin1String(level) + QLatin1Char(' ') +
            oneLine(text) + QLatin1Char('\n'))
        .toUtf8();
}

// A log nobody can read must not fail unseen, nor fill standard error with the same
// complaint every half minute: it is told once, and again only after the file worked.
void tellFailure(State& s, const QString& reason)
{
    if (s.failureTold)
        return;
    s.failureTold = true;
    QString text = QStringLiteral("log: cannot write %1: %2; events go to standard error only, and the file is "
                                  "tried again every %3 s")
                       .arg(s.file.fileName(), reason)
                       .arg(kRetryMs / 1000);
    toStandardError(lineOf("WARN", text));
}

// Every line lands at the end of the file, even when another process (a second Skylark
// started in the folder, which logs why it ends) wrote there since. Linux appends so;
// QFile on Windows seeks to the end once, at the open, and would write over the other's
// lines. A handle with append access alone appends every write there too.
bool openAppending(QFile& file)
{
#ifdef _WIN32
    const QString name = QDir::toNativeSeparators(file.fileName());
    const HANDLE handle = CreateFileW(
        reinterpret_cast<const wchar_t*>(name.utf16()), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered); // for its error
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_APPEND | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return false;
    }
    if (file.open(fd, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle))
        return true;
    _close(fd);
    return false;
#else
    return file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
#endif
}

bool openFile(State& s)
{
    s.file.setFileName(QDir(s.folder).filePath(QString::fromLatin1(eventlog::kFileName)));
    if (openAppending(s.file)) {
        s.sinceFailure.invalidate();
        return true;
    }
    s.sinceFailure.start();
    tellFailure(s, s.file.errorString());
    return false;
}

void giveUpForAWhile(State& s)
{
    tellFailure(s, s.file.errorString());
    s.file.close();
    s.sinceFailure.start();
}

// Keeps the file under the cap: the full file becomes the old one, replacing the one
// before it. Where the folder allows no rename, the file starts over instead; a log
// that outgrows its cap on a small card is worse than a lost hour of it.
void rotate(State& s)
{
    const QString current = s.file.fileName();
    const QString old = QDir(s.folder).filePath(QString::fromLatin1(eventlog::kOldFileName));
    s.file.close();
    QFile::remove(old);
    if (!QFile::rename(current, old)) {
        if (!s.file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
            giveUpForAWhile(s);
        return;
    }
    if (!openFile(s))
        s.file.close();
}

void writeToFile(State& s, const QByteArray& line)
{
    if (!s.file.isOpen()) {
        if (s.sinceFailure.isValid() && s.sinceFailure.elapsed() < kRetryMs)
            return;
        if (!openFile(s))
            return;
    }
    // Asked of the file itself, not counted here: another process may have written to
    // it, or someone may have emptied it.
    const qint64 size = s.file.size();
    if (size > 0 && size + line.size() > eventlog::kMaxBytes) {
        rotate(s);
        if (!s.file.isOpen())
            return;
    }
    if (s.file.write(line) != line.size())
        giveUpForAWhile(s);
    else
        s.failureTold = false;
}

QByteArray formatLine(QtMsgType type, const QMessageLogContext& context, const QString& message,
                      const QStringList& secrets)
{
    QString text = message;
    // An event is written as its writer made it: what it holds from outside was scrubbed
    // on the way in. Any other message (Qt's own, a library's) may hold anything, so all
    // of it is scrubbed, before the cut, which cannot then leave the start of a secret
    // behind.
    if (!context.category || std::strcmp(context.category, lcEvents().categoryName()) != 0) {
        if (context.category && std::strcmp(context.category, "default") != 0)
            text = QString::fromUtf8(context.category) + QLatin1String(": ") + text;
        scrub(text, secrets);
    }
    if (text.size() > kMaxTextChars)
        text = text.left(kMaxTextChars) + QStringLiteral("...(cut)");
    return lineOf(levelName(type), text);
}

// Set while this thread holds the lock. A message raised meanwhile (a warning from the
// file itself) goes to standard error only: it must not wait for the lock it holds.
thread_local bool inside = false;

void handler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    State& s = state();
    if (inside) {
        toStandardError(formatLine(type, context, message, s.secrets));
        return;
    }
    inside = true;
    QByteArray line;
    {
        QMutexLocker lock(&s.mutex);
        line = formatLine(type, context, message, s.secrets);
        if (s.active)
            writeToFile(s, line);
    }
    toStandardError(line);
    inside = false;
}

} // namespace

namespace eventlog {

bool open(const QString& folder)
{
    State& s = state();
    QtMessageHandler before = qInstallMessageHandler(handler);
    if (before != handler)
        s.previous = before;
    QMutexLocker lock(&s.mutex);
    inside = true;
    if (s.file.isOpen())
        s.file.close();
    s.folder = folder;
    s.active = true;
    const bool opened = openFile(s);
    inside = false;
    return opened;
}

void close()
{
    State& s = state();
    qInstallMessageHandler(s.previous);
    s.previous = nullptr;
    QMutexLocker lock(&s.mutex);
    s.active = false;
    s.file.close();
    s.sinceFailure.invalidate();
}

QString path()
{
    State& s = state();
    QMutexLocker lock(&s.mutex);
    return s.active ? QDir(s.folder).filePath(QString::fromLatin1(kFileName)) : QString();
}

void addSecret(const QString& text)
{
    if (text.isEmpty())
        return;
    State& s = state();
    QMutexLocker lock(&s.mutex);
    // Every form a text can take on its way into a line: as it is, as a URL carries it,
    // and as Qt's debug stream quotes it in another category's message.
    for (const QString& form : {text, QString::fromLatin1(QUrl::toPercentEncoding(text)), escaped(text)})
        if (!s.secrets.contains(form))
            s.secrets.append(form);
    std::stable_sort(s.secrets.begin(), s.secrets.end(),
                     [](const QString& a, const QString& b) { return a.size() > b.size(); });
}

void clearSecrets()
{
    State& s = state();
    QMutexLocker lock(&s.mutex);
    s.secrets.clear();
}

void info(const QString& text)
{
    qCInfo(lcEvents).noquote() << text;
}

void warning(const QString& text)
{
    qCWarning(lcEvents).noquote() << text;
}

void error(const QString& text)
{
    qCCritical(lcEvents).noquote() << text;
}

void fault(const char* handler, const std::exception& fault, const QString& then)
{
    error(QStringLiteral("fault: handler=%1 ended on a run-time fault: %2%3")
              .arg(QLatin1String(handler), withoutSecrets(QString::fromLocal8Bit(fault.what())),
                   then.isEmpty() ? QString() : QStringLiteral("; ") + then));
}

QString withoutSecrets(const QString& text)
{
    State& s = state();
    QMutexLocker lock(&s.mutex);
    QString out = text;
    scrub(out, s.secrets);
    return out;
}

QString quote(const QString& value)
{
    return QLatin1Char('"') + escaped(value) + QLatin1Char('"');
}

QString quoteOutside(const QString& text)
{
    return quote(withoutSecrets(text));
}

QString took(const QElapsedTimer& watch)
{
    return QString::number(static_cast<double>(watch.nsecsElapsed()) / 1e9, 'f', 3) + QLatin1Char('s');
}

} // namespace eventlog
