#pragma once
// The platform as tests see it: a clock they set and step, a record of every message
// box (each answered at once with OK), and an "end" that is recorded instead of ending
// the test process.

#include "app/platform.h"

#include <QStringList>

#include <functional>

class FakePlatform final : public Platform {
public:
    // Sets the time of day, e.g. setTime(10, 30, 9, 600). The monotonic clock moves
    // with it, forward only (a time earlier than now means the next day).
    void setTime(int h, int m, int s, int ms = 0);
    void advance(double seconds);

    QTime timeOfDay() override;
    double monotonicSeconds() override { return m_seconds; }
    void showMessage(const QString& text) override;
    void endProcess() override { ++endCalls; }
    QString applicationFolder() override { return folder; }
    // Handles the events that are pending and lets the clock run on by the time asked
    // for, as if nothing had happened meanwhile.
    void waitForEvents(double maxSeconds) override;

    QStringList messages;
    int endCalls = 0;
    QString folder;
    // Called on every pass of a wait, before the clock moves on (e.g. to click a
    // button in the middle of a program-end wait).
    std::function<void()> onWait;
    int waitCalls = 0;

private:
    double m_seconds = 10 * 3600.0; // continuous seconds; time of day = this mod 86400
};
