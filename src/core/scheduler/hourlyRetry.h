#pragma once
// When an hour whose image did not land is tried again. A server that is away for a
// few minutes (restarted, a router that reconnects, "421 too many users" at the full
// hour) or an image written a few seconds late must not cost the hour: the hour is
// tried again, first 15 s after the failure, then each delay doubled up to 5 minutes,
// for as long as a try can be over before the next hour's connect stage. Times are the
// wall clock's, which is what the stages go by: a clock that jumps ends the tries rather
// than let one hour's tries run into another's cycle.

#include <QDateTime>

#include <optional>

// The next hour's connect stage comes this long after an hour's upload second.
inline constexpr int kNextCycleAfter = 3600 - 10;
// The last try begins at least this long before that stage: a try is a login, a folder
// change, an upload and a goodbye, each given up on after about 30 s of silence.
inline constexpr int kTryMargin = 120;

// Whether an hour due at `due` may still be tried at `now`.
enum class TriesLeft {
    Yes,
    NextCycle,    // too close to the next hour's cycle, or past it (a clock set forward)
    ClockSetBack, // the clock shows a time well before the hour came due
};
TriesLeft triesLeft(const QDateTime& due, const QDateTime& now);

// When the next try of the hour due at `due` begins, after `triesSoFar` tries of its own
// (0: only the stage itself has failed), the last failure at `failedAt`; none when it
// could not be over before the next hour's cycle begins, or the clock has left the hour.
std::optional<QDateTime> nextTryAt(const QDateTime& due, const QDateTime& failedAt, int triesSoFar);
