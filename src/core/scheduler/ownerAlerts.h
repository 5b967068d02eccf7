#pragma once
// When Skylark tells its owner about the hours, and in what words. One message when the
// after-th hour in a row is not sent, naming those hours, the file and the reason; one
// when an hour lands again after that, naming how many were lost; nothing for each
// further lost hour in between. With stale set, one message when the hour's image is
// older than that, and none again until an image is fresh. The count of lost hours goes
// on across a restart: it is read back from the record.

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// What became of an hour, as the owner is told of it.
struct HourReport {
    QDateTime due; // its upload second
    QString file;
    bool landed = false;
    int tries = 0;
    QString reason;                 // why it was not sent, in a few words
    std::optional<qint64> imageAge; // seconds from the image's last write to the upload second
};

enum class OwnerMessageKind { Lost, Recovered, Stale, Test };

struct OwnerMessage {
    OwnerMessageKind kind = OwnerMessageKind::Test;
    QString subject; // one line
    QString text;    // lines joined by "\n"
};

// An image this much older than its upload second is stale: the log says so and the
// record's reason is "stale", whether or not the owner asked for a message.
inline constexpr qint64 kStaleAfterSeconds = 2 * 3600;

class OwnerAlerts {
public:
    // `lostSoFar`: the lost hours in a row the record ends with. Those that reached
    // `after` were told already.
    OwnerAlerts(int after, std::optional<int> staleHours, int lostSoFar);

    // The hour's outcome: the messages due now (at most two), with the log's last lines
    // in a message about lost hours.
    QList<OwnerMessage> hourDecided(const HourReport& hour, const QStringList& logTail);

    int lostInARow() const { return m_lost; }

private:
    int m_after;
    std::optional<int> m_staleHours;
    int m_lost;                    // hours in a row not sent
    bool m_toldLost;               // the owner knows of them
    bool m_toldStale = false;      // the owner knows the image is stale
    QList<HourReport> m_lostHours; // the latest of them, to name
};

// The message that --test-alert sends.
OwnerMessage testMessage(const QDateTime& now);

// "3 時間 12 分" for a span of seconds.
QString japaneseSpan(qint64 seconds);
