#pragma once
// The platform as tests see it: a clock they set and step, a record of every message
// box (each answered at once with OK, closed or not) and question (answered as the test
// says, else いいえ), and an "end" that is recorded instead of ending the test process.

#include "window/app/platform.h"

#include <QDateTime>
#include <QPointer>
#include <QStringList>

#include <cmath>
#include <functional>
#include <vector>

// Holds the window timers' wall clock still while it lives. A test ticks the timers
// itself on the clock it steps; the timers' real beat, which would tick on the wall
// clock whenever the event loop runs (while the test waits for an answer), must not
// add ticks of its own.
class StillWallClock {
public:
    StillWallClock();
    ~StillWallClock();
    StillWallClock(const StillWallClock&) = delete;
    StillWallClock& operator=(const StillWallClock&) = delete;
};

// The test clock's wall time `seconds` after its start, midnight of Monday 7 December
// 2026.
inline QDateTime testDateTime(double seconds)
{
    return QDateTime(QDate(2026, 12, 7), QTime(0, 0)).addMSecs(std::llround(seconds * 1000.0));
}

class FakePlatform final : public Platform {
public:
    // Sets the time of day, e.g. setTime(10, 30, 9, 600). The monotonic clock moves
    // with it, forward only (a time earlier than now means the next day); whatever
    // callAt() was asked for on the way comes at its own time.
    void setTime(int h, int m, int s, int ms = 0);
    void advance(double seconds);

    QDateTime now() override;
    double monotonicSeconds() override { return m_seconds; }
    MessageId showMessage(const QString& text) override;
    void closeMessage(MessageId) override {}
    void showMessageAndWait(const QString& text) override { showMessage(text); }
    bool askYesNo(const QString& text, bool yesByDefault) override;
    void endProcess() override { ++endCalls; }
    QString applicationFolder() override { return folder; }
    void callAt(double at, QObject* context, std::function<void()> then) override;

    QStringList messages; // every box shown, in order; a box's id is its place here, from 1
    struct Question {
        QString text;
        bool yesByDefault = false;
    };
    QList<Question> questions;
    QList<bool> answers; // the next questions' answers, in order; いいえ once used up
    int endCalls = 0;
    QString folder;

private:
    void moveTo(double seconds);

    struct Due {
        double at;
        QPointer<QObject> context;
        std::function<void()> then;
    };
    std::vector<Due> m_due;
    StillWallClock m_stillTimers;
    double m_seconds = 10 * 3600.0; // continuous seconds since the first day began
};
