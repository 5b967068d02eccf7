#pragma once
// A timer with the old toolkit's rules: Enabled and Interval are set separately, and it
// ticks only while it is enabled with a non-zero interval. Interval 0 never ticks, so a
// timer can sit "enabled" for months without costing anything.
//
// Ticks are lined up with the wall clock, not with the moment the timer was armed: a
// 500 ms timer ticks just after every whole and every half second, a 1000 ms timer just
// after every whole second. The hourly upload compares the clock with its set second on
// each tick, so it starts a few milliseconds after that second instead of anywhere up
// to half a second later. Every tick is lined up anew, so neither a drifting timer nor
// a clock that was set forward or back moves the ticks off the second for long.
//
// All running timers of the program tick from one shared beat, in the order they were
// armed, so the handlers of one tick always run in the same order (the hourly stages
// rely on the refresher running before the upload). Timers belong to the GUI thread.

#include <QObject>

class FormTimer : public QObject {
    Q_OBJECT
public:
    explicit FormTimer(QObject* parent = nullptr);
    ~FormTimer() override;

    bool enabled() const { return m_enabled; }
    void setEnabled(bool on);
    int interval() const { return m_interval; }
    void setInterval(int milliseconds);
    // Whether a tick is due at some point: what a test "fires" when it steps the clock.
    bool running() const { return m_enabled && m_interval > 0; }

    // The wall clock the ticks line up with, in milliseconds since 1970; null: the
    // system's. Tests set the clock forward and back with it.
    using WallClock = qint64 (*)();
    static void setWallClock(WallClock clock);

signals:
    void timeout();

private:
    friend class FormTimerBeat;
    void apply();

    bool m_enabled = true;
    int m_interval = 0;
    qint64 m_due = 0; // wall-clock time of the next tick, while running
};
