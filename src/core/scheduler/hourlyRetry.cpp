#include "core/scheduler/hourlyRetry.h"

#include <algorithm>

namespace {
constexpr int kFirstDelay = 15;
constexpr int kLongestDelay = 5 * 60;
// A clock corrected by a few seconds (a time server's step) does not end the tries.
constexpr int kClockSetBackAllowed = 60;
} // namespace

TriesLeft triesLeft(const QDateTime& due, const QDateTime& now)
{
    const qint64 since = due.secsTo(now);
    if (since < -kClockSetBackAllowed)
        return TriesLeft::ClockSetBack;
    if (since > kNextCycleAfter - kTryMargin)
        return TriesLeft::NextCycle;
    return TriesLeft::Yes;
}

std::optional<QDateTime> nextTryAt(const QDateTime& due, const QDateTime& failedAt, int triesSoFar)
{
    if (triesLeft(due, failedAt) != TriesLeft::Yes)
        return std::nullopt;
    // Doubled per try until it reaches the longest delay; the shift stays small.
    const qint64 delay = std::min(kLongestDelay, kFirstDelay << std::clamp(triesSoFar, 0, 5));
    // Whole seconds, as the stages compare them: a failure at 10:30:20.6 tries at 10:30:35.
    const qint64 at = std::max<qint64>(due.secsTo(failedAt), 0) + delay;
    if (at > kNextCycleAfter - kTryMargin)
        return std::nullopt;
    return due.addSecs(at);
}
