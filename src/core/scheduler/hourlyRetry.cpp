#include "core/scheduler/hourlyRetry.h"

#include <algorithm>

namespace {
constexpr int kFirstDelay = 15;
constexpr int kLongestDelay = 5 * 60;
// A clock corrected by a few seconds (a time server's step) does not end the tries.
constexpr int kClockSetBackAllowed = 60;
} // namespace

int secondOfDay(const ClockParts& clock)
{
    return clock.hour.toInt() * 3600 + clock.minute.toInt() * 60 + clock.second.toInt();
}

int secondOfDay(const QTime& time)
{
    return QTime(0, 0).secsTo(time);
}

int secondsSinceDue(int dueAt, int now)
{
    int since = ((now - dueAt) % kSecondsPerDay + kSecondsPerDay) % kSecondsPerDay;
    // Half a day on either side: more than that after the due second is a clock that
    // went back.
    if (since > kSecondsPerDay / 2)
        since -= kSecondsPerDay;
    return since;
}

bool triesOver(int dueAt, int now)
{
    const int since = secondsSinceDue(dueAt, now);
    return since < -kClockSetBackAllowed || since > kNextCycleAfter - kTryMargin;
}

std::optional<int> nextTryAt(int dueAt, int failedAt, int triesSoFar)
{
    if (triesOver(dueAt, failedAt))
        return std::nullopt;
    // Doubled per try until it reaches the longest delay; the shift stays small.
    const int delay = std::min(kLongestDelay, kFirstDelay << std::clamp(triesSoFar, 0, 5));
    const int at = std::max(secondsSinceDue(dueAt, failedAt), 0) + delay;
    if (at > kNextCycleAfter - kTryMargin)
        return std::nullopt;
    return (dueAt + at) % kSecondsPerDay;
}
