#pragma once
// uploads.csv: one line for every armed hour once its outcome is known, in the program's
// folder, for the owner to check and for a spreadsheet to read:
//
//   date,time,file,result,tries,bytes,reason
//   2026-12-07,10:30:20,10.jpg,landed,0,70211,
//   2026-12-07,11:30:20,11.jpg,not-sent,6,70480,FtpPutFile 451 Local error in processing.
//
// date and time are the upload second's; tries is 0 when the stage itself sent the image
// (or none was made); bytes is the image's size, 0 when there was none. No field is
// quoted: a comma in a reason becomes a semicolon, a quote an apostrophe, a line break a
// blank. Each line goes to the file in one write, so a crash leaves no half line; one cut
// short all the same (a full disk) is closed before the next line. The record keeps about
// a year: once its first line is more than 13 months old, the lines older than 12 months
// are taken out. A damaged or hand-edited file is read as far as its lines make sense;
// nothing in it ever stops the hourly upload.

#include <QDateTime>
#include <QString>

#include <optional>

inline constexpr char kUploadRecordFile[] = "uploads.csv";
inline constexpr char kUploadRecordHeader[] = "date,time,file,result,tries,bytes,reason";
// The reason of an hour that was still open when the program ended: it says nothing of
// the server, so it neither counts as a lost hour nor ends a run of them.
inline constexpr char kProgramEndedReason[] = "the program ended";

struct RecordLine {
    QDateTime due; // the upload second
    QString file;
    bool landed = false;
    int tries = 0;
    qint64 bytes = 0;
    QString reason; // empty, or the failure in a few words
};

// The line without its line break.
QString formatRecordLine(const RecordLine& line);
// A line of the record, or nullopt for the header and for what does not read as one.
std::optional<RecordLine> parseRecordLine(const QString& text);

class UploadRecord {
public:
    explicit UploadRecord(const QString& folder);

    // Appends the line, the header first into a new file, and trims a record grown older
    // than 13 months. False when the file could not be written (the log says why).
    bool append(const RecordLine& line);
    // How many hours in a row at the end of the record were not sent, those the program's
    // end cut off left out.
    int lostInARow() const;

    QString path() const { return m_path; }

private:
    void trimBefore(const QDate& day);

    QString m_path;
    std::optional<QDate> m_oldest; // the date of the record's first line, once read
};
