#pragma once
// The settings file ftp.txt: one line of six quoted fields, separated by commas, with
// nothing escaped. The reader finds the fields by counting commas, not by looking for
// quotes; files written by earlier versions rely on exactly that arithmetic, odd
// results included, so it is kept as it is.

#include <QByteArray>
#include <QString>

#include <array>

using SettingsRecord = std::array<QString, 6>; // server, user, password, folder, minute, second

// The line the writer produces, CR LF included.
QString formatSettingsRecord(const SettingsRecord& fields);

// Splits one line into the six fields. Throws RuntimeFault when the commas give a
// negative count (fewer than five commas, or two of them too close together).
SettingsRecord parseSettingsRecord(const QString& line);

// The last line of the file's bytes (CR LF, LF or CR end a line; a final line break
// does not start another line; no line at all gives the empty text), decoded as UTF-8,
// or as Shift_JIS when it is not valid UTF-8 (files written on Japanese Windows).
QString lastSettingsLine(const QByteArray& contents);

// Reads the file and returns the last line. Throws RuntimeFault when it cannot be read.
QString readSettingsLastLine(const QString& fileName);

// Replaces the file with one record. The old file is replaced only once the new one is
// completely on disk; a new file is readable by its owner only, since it holds a
// password. Returns false (old file untouched) when it could not be written.
bool writeSettingsFile(const QString& fileName, const SettingsRecord& fields);
