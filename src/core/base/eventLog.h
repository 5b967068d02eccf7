#pragma once
// The event log: what Skylark did while nobody was watching, in `skylark.log` beside
// ftp.txt and, line for line, on standard error (where a service manager's journal
// picks it up).
//
//   2026-12-07T13:45:12+09:00 INFO upload: file=10.jpg folder=/pub bytes=20480 took=0.120s result=ok
//
// Writing an event:
//
//   eventlog::info(QStringLiteral("connect: server=%1 result=ok took=%2").arg(server, eventlog::took(watch)));
//   eventlog::warning(...);   // something failed and the program goes on
//   eventlog::error(...);     // a run-time fault ended a handler
//
// or qCInfo(lcEvents) / qCWarning(lcEvents) / qCCritical(lcEvents) directly. The kinds
// in use: start, end, settings, connect, disconnect, change folder, list, upload, error
// (every ErrorOut), hourly, program end, fault, box, lock, arm, libcurl. One call is
// one event: the text starts with the kind of event and a colon, then key=value pairs;
// a value that may hold spaces goes through quote() (a path, a user) or quoteOutside()
// (a server's reply, libcurl's words). Once open() has run, every other Qt message of
// the process lands in the log as well, prefixed with its category.
//
// The log never holds the program up: a file that cannot be opened or written is left
// alone for half a minute before the next try, and the lines meanwhile go to standard
// error only. Standard error is told so once, with the reason, and again only after the
// file has worked in between. At 1 MiB the file becomes skylark.log.1, replacing the one before.
//
// The password is never written into an event. What Skylark writes of its own (a user,
// a server, a folder, a file name, a path, its own words) goes in as it is, even where
// it spells a secret: a user called like the password is still the user. Only what
// comes from outside and may repeat the password is scrubbed, every text given to
// addSecret() replaced by "***": a text given to quoteOutside() or withoutSecrets(), an
// exception's what() in fault(), and the whole of every message of another Qt category
// (Qt's own, a library's), which may hold anything.
//
// The log belongs to the process: open() once, from one thread, before other threads
// log; events themselves may come from any thread.

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QString>

#include <exception>

Q_DECLARE_LOGGING_CATEGORY(lcEvents)

namespace eventlog {

inline constexpr qint64 kMaxBytes = qint64{1024} * 1024;
inline constexpr const char* kFileName = "skylark.log";
inline constexpr const char* kOldFileName = "skylark.log.1";

// Starts the log in this folder and routes every Qt message of the process through it.
// Returns whether the file could be opened; lines go to standard error either way.
bool open(const QString& folder);
// Stops writing the file and gives the messages back to the handler that was there.
void close();
// The file's path while open, else empty.
QString path();

// A text that must never appear in the log or on standard error (the password). Empty
// texts are ignored. Its percent-encoded form, as a URL carries it, and its escaped
// form, as Qt's debug stream quotes a string, are replaced too.
void addSecret(const QString& text);
void clearSecrets();
// A text from outside with every secret replaced by "***": for a message box, or for an
// event that writes the text unquoted.
QString withoutSecrets(const QString& text);

void info(const QString& text);
void warning(const QString& text);
void error(const QString& text);
// A run-time fault that ended a handler, and what the handler did about it (the box it
// showed), if anything.
void fault(const char* handler, const std::exception& fault, const QString& then = QString());

// A value of Skylark's own in double quotes, inner quotes and backslashes escaped, and
// otherwise as it is: the password is never given to it.
QString quote(const QString& value);
// A text from outside (a server's reply, libcurl's words) quoted like quote(), secrets
// scrubbed first: after the escapes, a secret holding a quote or a backslash would no
// longer match.
QString quoteOutside(const QString& text);
// Elapsed time as "1.234s".
QString took(const QElapsedTimer& watch);

} // namespace eventlog
