#include "window/scheduler/formTimer.h"

#include <QDateTime>
#include <QTimer>

#include <algorithm>
#include <vector>

namespace {

FormTimer::WallClock wallClock = nullptr;

qint64 now()
{
    return wallClock ? wallClock() : QDateTime::currentMSecsSinceEpoch();
}

// How long after the whole (or half) second a tick comes: enough that the clock read
// in the handler already shows the new second, even where the wall clock and the
// timer's own clock disagree by a millisecond.
qint64 lagOf(int interval)
{
    return interval >= 30 ? 3 : interval / 10;
}

// The first tick time after `time`: a multiple of the interval plus the lag.
qint64 nextDue(qint64 time, int interval)
{
    const qint64 lag = lagOf(interval);
    return ((time - lag) / interval + 1) * interval + lag;
}

} // namespace

// The one timer behind all FormTimers. It sleeps until the earliest tick that is due,
// then posts the tick of every timer due by then, in arming order, and lines each of
// them up again from the clock.
class FormTimerBeat : public QObject {
public:
    FormTimerBeat()
    {
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, [this] { fire(); });
    }

    static FormTimerBeat*& instance()
    {
        static FormTimerBeat* beat = nullptr;
        return beat;
    }
    static int& users()
    {
        static int count = 0;
        return count;
    }

    // (Re)armed: last in the order, first tick at the next line-up.
    void arm(FormTimer* t)
    {
        remove(t);
        t->m_due = nextDue(now(), t->m_interval);
        m_running.push_back(t);
        schedule();
    }

    void remove(FormTimer* t)
    {
        const auto at = std::find(m_running.begin(), m_running.end(), t);
        if (at == m_running.end())
            return;
        m_running.erase(at);
        if (m_running.empty())
            m_timer.stop();
    }

private:
    void fire()
    {
        const qint64 time = now();
        for (FormTimer* t : m_running) {
            // A tick further away than one interval means the clock was set back:
            // line up from where it is now instead of waiting for the old time.
            if (t->m_due - time > t->m_interval + lagOf(t->m_interval))
                t->m_due = nextDue(time, t->m_interval);
            if (t->m_due > time)
                continue;
            // Qt never fires a timer again while its previous tick is still being
            // handled, so a tick whose handler waits in a message box would silence
            // the timers until the box is closed: an hourly upload would stall behind
            // a box from an earlier hour. Each tick is therefore posted and handled as
            // an event of its own, which the box's event loop delivers like any other;
            // events posted together are delivered in the order posted.
            QMetaObject::invokeMethod(
                t,
                [t] {
                    if (t->running())
                        emit t->timeout();
                },
                Qt::QueuedConnection);
            // Late ticks are not made up: after a long handler or a clock set forward,
            // one tick, then the next line-up.
            t->m_due = nextDue(time, t->m_interval);
        }
        schedule();
    }

    void schedule()
    {
        if (m_running.empty())
            return;
        qint64 earliest = m_running.front()->m_due;
        qint64 longest = 0;
        for (const FormTimer* t : m_running) {
            earliest = std::min(earliest, t->m_due);
            longest = std::max(longest, t->m_interval + lagOf(t->m_interval));
        }
        // Never longer than one interval, so a clock set back is noticed at the next beat.
        m_timer.start(static_cast<int>(std::clamp<qint64>(earliest - now(), 0, longest)));
    }

    QTimer m_timer;
    std::vector<FormTimer*> m_running; // in arming order
};

FormTimer::FormTimer(QObject* parent) : QObject(parent)
{
    if (FormTimerBeat::users()++ == 0)
        FormTimerBeat::instance() = new FormTimerBeat;
}

FormTimer::~FormTimer()
{
    FormTimerBeat::instance()->remove(this);
    if (--FormTimerBeat::users() == 0) {
        delete FormTimerBeat::instance();
        FormTimerBeat::instance() = nullptr;
    }
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

void FormTimer::setWallClock(WallClock clock)
{
    wallClock = clock;
}

void FormTimer::apply()
{
    // Changing the interval or enabling again starts the count anew, as the old timer
    // did; here that means from the next line-up.
    if (running())
        FormTimerBeat::instance()->arm(this);
    else
        FormTimerBeat::instance()->remove(this);
}
