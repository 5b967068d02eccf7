#include "app/formTimer.h"

FormTimer::FormTimer(QObject* parent) : QObject(parent)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    // Qt never fires a timer again while its previous tick is still being handled, so
    // a tick whose handler waits in a message box would silence that timer until the
    // box is closed: an hourly upload would stall behind a box from an earlier hour.
    // Each tick is therefore posted and handled as an event of its own, which the
    // box's event loop delivers like any other.
    connect(&m_timer, &QTimer::timeout, this, [this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (running())
                    emit timeout();
            },
            Qt::QueuedConnection);
    });
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
