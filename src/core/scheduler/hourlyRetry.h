#pragma once
// When an hour whose image did not land is tried again. A server that is away for a
// few minutes (restarted, a router that reconnects, "421 too many users" at the full
// hour) or an image written a few seconds late must not cost the hour: the hour is
// tried again, first 15 s after the failure, then each delay doubled up to 5 minutes,
// for as long as a try can be over before the next hour's connect stage. Times are
// seconds of the day on the wall clock, which is what the stages go by: a clock that
// jumps ends the tries rather than let one hour's tries run into another's cycle.

#include "core/scheduler/clockText.h"

#include <QTime>

#include <optional>

inline constexpr int kSecondsPerDay = 24 * 3600;
// The next hour's connect stage comes this long after an hour's upload second.
inline constexpr int kNextCycleAfter = 3600 - 10;
// The last try begins at least this long before that stage: a try is a login, a folder
// change, an upload and a goodbye, each given up on after about 30 s of silence.
inline constexpr int kTryMargin = 120;

// The clock's time as seconds of the day.
int secondOfDay(const ClockParts& clock);
int secondOfDay(const QTime& time);

// Seconds from the upload second `dueAt` to `now`, across midnight; negative when the
// clock shows a time before it (a clock set back).
int secondsSinceDue(int dueAt, int now);

// When the next try of the hour whose upload second was `dueAt` begins (seconds of the
// day), after `triesSoFar` tries of its own (0: only the stage itself has failed), the
// last failure at `failedAt`; none when it could not be over before the next hour's
// cycle begins, or the clock has left the hour.
std::optional<int> nextTryAt(int dueAt, int failedAt, int triesSoFar);

// Whether the tries of that hour are over at `now`: too close to the next hour's cycle,
// or the clock set back to before the hour came due.
bool triesOver(int dueAt, int now);
