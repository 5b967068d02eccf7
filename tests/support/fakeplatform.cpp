#include "fakeplatform.h"

#include <QCoreApplication>

#include <cmath>

void FakePlatform::setTime(int h, int m, int s, int ms)
{
    const double target = h * 3600.0 + m * 60.0 + s + ms / 1000.0;
    const double day = std::floor(m_seconds / 86400.0) * 86400.0;
    double next = day + target;
    if (next < m_seconds)
        next += 86400.0;
    m_seconds = next;
}

void FakePlatform::advance(double seconds)
{
    m_seconds += seconds;
}

QTime FakePlatform::timeOfDay()
{
    const double ofDay = std::fmod(m_seconds, 86400.0);
    return QTime::fromMSecsSinceStartOfDay(static_cast<int>(std::llround(ofDay * 1000.0)) % 86400000);
}

void FakePlatform::showMessage(const QString& text)
{
    messages << text;
}

void FakePlatform::waitForEvents(double maxSeconds)
{
    ++waitCalls;
    QCoreApplication::processEvents();
    if (onWait)
        onWait();
    m_seconds += maxSeconds;
}
