#include "app/formTimer.h"

FormTimer::FormTimer(QObject* parent) : QObject(parent)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &FormTimer::timeout);
}

void FormTimer::setEnabled(bool on)
{
    m_enabled = on;
    apply();
}

void FormTimer::setInterval(int milliseconds)
{
    m_interval = milliseconds < 0 ? 0 : milliseconds;
    apply();
}

void FormTimer::apply()
{
    // Changing the interval or re-enabling restarts the count, as the old timer did.
    if (running())
        m_timer.start(m_interval);
    else
        m_timer.stop();
}
