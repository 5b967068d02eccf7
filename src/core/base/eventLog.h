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
// (every ErrorOut), hourly, program end, fault, box, lock, arm. One call is
// one event: the text starts with the kind of event and a colon, then key=value pairs;
// a value that may hold spaces goes through quote() (a path, a user) or quoteOutside()
// (a server's reply, libcurl's words). Once open() has run, every other Qt message of
// the process lands in the log as well, prefixed with its category.
//
// The log never holds the program up: a file that cannot be opened or written is left
// alone for half a minute before the next try, and the lines meanwhile go to standard
// error only. Standard error is told so once, with the reason, and again only after the
// file has worked in between. At 1 MiB the file becomes skylark.log.1, replacing the one before.
// Every text given to addSecret() is replaced by "***" in every line, whatever wrote it.
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
// texts are ignored. Its percent-encoded form, as it would appear in a URL, is
// replaced too.
void addSecret(const QString& text);
void clearSecrets();
// The text with every secret replaced by "***", for a text shown elsewhere than the log
// (a message box).
QString withoutSecrets(const QString& text);

void info(const QString& text);
void warning(const QString& text);
void error(const QString& text);
// A run-time fault that ended a handler, and what the handler did about it (the box it
// showed), if anything.
void fault(const char* handler, const std::exception& fault, const QString& then = QString());

// A value in double quotes with inner quotes and backslashes escaped, secrets scrubbed
// first.
QString quote(const QString& value);
// A text from outside (a server's reply, libcurl's words) quoted like quote(), secrets
// scrubbed first: after the escapes, a secret holding a quote or a backslash would no
// longer match.
QString quoteOutside(const QString& text);
// Elapsed time as "1.234s".
QString took(const QElapsedTimer& watch);

} // namespace eventlog
