#include "fakeplatform.h"

#include "window/scheduler/formTimer.h"

#include <algorithm>
#include <cmath>

namespace {
int g_stillClocks = 0; // alive at once (two windows in one test)
} // namespace

StillWallClock::StillWallClock()
{
    if (g_stillClocks++ == 0)
        FormTimer::setWallClock([]() -> qint64 { return 0; });
}

StillWallClock::~StillWallClock()
{
    if (--g_stillClocks == 0)
        FormTimer::setWallClock(nullptr);
}

void FakePlatform::setTime(int h, int m, int s, int ms)
{
    const double target = h * 3600.0 + m * 60.0 + s + ms / 1000.0;
    const double day = std::floor(m_seconds / 86400.0) * 86400.0;
    double next = day + target;
    if (next < m_seconds)
        next += 86400.0;
    moveTo(next);
}

void FakePlatform::advance(double seconds)
{
    moveTo(m_seconds + seconds);
}

void FakePlatform::moveTo(double seconds)
{
    // Each one due on the way comes with the clock at its own time, earliest first;
    // what it asks for in turn comes too, if it falls within the move.
    for (;;) {
        const auto next =
            std::min_element(m_due.begin(), m_due.end(), [](const Due& a, const Due& b) { return a.at < b.at; });
        if (next == m_due.end() || next->at > seconds)
            break;
        Due due = std::move(*next);
        m_due.erase(next);
        m_seconds = std::max(m_seconds, due.at);
        if (due.context)
            due.then();
    }
    m_seconds = seconds;
}

QDateTime FakePlatform::now()
{
    return testDateTime(m_seconds);
}

MessageId FakePlatform::showMessage(const QString& text)
{
    messages << text;
    return static_cast<MessageId>(messages.size());
}

bool FakePlatform::askYesNo(const QString& text, bool yesByDefault)
{
    questions.append({text, yesByDefault});
    return !answers.isEmpty() && answers.takeFirst();
}

void FakePlatform::callAt(double at, QObject* context, std::function<void()> then)
{
    if (context)
        m_due.push_back({at, context, std::move(then)});
}
