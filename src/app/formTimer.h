#pragma once
// A timer with the old toolkit's rules: Enabled and Interval are set separately, and it
// ticks only while it is enabled with a non-zero interval. Interval 0 never ticks, so a
// timer can sit "enabled" for months without costing anything.

#include <QObject>
#include <QTimer>

class FormTimer : public QObject {
    Q_OBJECT
public:
    explicit FormTimer(QObject* parent = nullptr);

    bool enabled() const { return m_enabled; }
    void setEnabled(bool on);
    int interval() const { return m_interval; }
    void setInterval(int milliseconds);
    // Whether a tick is due at some point: what a test "fires" when it steps the clock.
    bool running() const { return m_enabled && m_interval > 0; }

signals:
    void timeout();

private:
    void apply();

    QTimer m_timer;
    bool m_enabled = true;
    int m_interval = 0;
};
