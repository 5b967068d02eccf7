#include "core/scheduler/hourlyJob.h"

#include "core/base/eventLog.h"
#include "core/ftp/passingFailure.h"
#include "core/scheduler/clockText.h"
#include "core/scheduler/hourlyRetry.h"
#include "core/scheduler/hourlyRules.h"

#include <cmath>

namespace {

// The upload second of an hour that comes round again this soon, on the clock that never
// jumps, is the same hour: another tick of its second, or a clock stepped back a little.
// Later it is an hour of its own (a clock set back by an hour, say).
constexpr double kSameHourWithin = 120;

ClockParts partsOf(const QDateTime& now)
{
    return SplitClockText(clockText(now.time()));
}

QDateTime wholeSecond(const QDateTime& now)
{
    return now.addMSecs(-now.time().msec());
}

QString timeText(const QDateTime& at)
{
    return clockText(at.time());
}

void logPassedOver(const char* stage)
{
    eventlog::info(QStringLiteral("hourly: the %1 stage is due while a call is under way; it lets this tick pass")
                       .arg(QLatin1String(stage)));
}

HourlyAnswer& operator+=(HourlyAnswer& answer, const HourlyAnswer& more)
{
    if (more.run)
        answer.run = more.run;
    if (more.notice != HourlyNotice::None)
        answer.notice = more.notice;
    answer.cutShort = answer.cutShort || more.cutShort;
    if (!more.fault.isEmpty())
        answer.fault = more.fault;
    return answer;
}

} // namespace

HourlyAnswer HourlyJob::connectTick(const HourlyTick& tick)
{
    HourlyAnswer answer = keepTime(tick);
    if (!connectStageDue(tick.minuteBox, tick.secondBox, partsOf(tick.now)))
        return answer;
    // The hour it connects for: the one whose upload second comes ten seconds on.
    const QDateTime due = wholeSecond(tick.now).addSecs(10);
    if (m_hour && m_hour->due != due)
        endOpenHour(answer);
    if (m_run && m_run->run.kind == HourlyRunKind::ConnectStage)
        return answer; // this second's first tick is connecting already
    if (m_run || tick.busy) {
        if (m_lateConnect != due) {
            m_lateConnect = due;
            eventlog::info(QStringLiteral("hourly: the connect stage is due while a call is under way; it runs as "
                                          "soon as the call is over"));
        }
        return answer;
    }
    return answer += connectStage(tick, due);
}

HourlyAnswer HourlyJob::connectStage(const HourlyTick& tick, const QDateTime& due)
{
    HourlyAnswer answer;
    if (tick.connected || !tick.internetOpen)
        return answer;
    if (tick.serverEmpty) {
        answer.notice = HourlyNotice::EnterServer;
        return answer;
    }
    return start(HourlyRunKind::ConnectStage, due, tick);
}

HourlyAnswer HourlyJob::uploadTick(const HourlyTick& tick, const HourImage& image)
{
    HourlyAnswer answer = keepTime(tick);
    if (!uploadStageDue(tick.minuteBox, tick.secondBox, partsOf(tick.now))) {
        // Between the stages: the next try of an hour that did not land, once it is due. A
        // call of the operator's goes first; the try goes at a tick after it.
        Hour* hour = openHour();
        if (hour && hour->state == State::Retrying && !m_run && !tick.busy && tick.now >= hour->nextTry) {
            ++hour->tries;
            eventlog::info(QStringLiteral("hourly: try %1 of %2 (due at %3)")
                               .arg(hour->tries)
                               .arg(hour->image.remoteName, timeText(hour->due)));
            answer += start(HourlyRunKind::Try, hour->due, tick, hour->image);
        }
        return answer;
    }
    const QDateTime due = wholeSecond(tick.now);
    if (!m_hour || m_hour->due != due || std::abs(tick.monotonic - m_hour->dueMonotonic) >= kSameHourWithin)
        return answer += beginHour(tick, due, image);
    // Another tick of the second: it sends again, as every tick of the second does.
    if (image.remoteName.isEmpty()) {
        answer.notice = HourlyNotice::ChooseFileToUpload;
    } else if (!image.unreadable.isEmpty()) {
        answer.fault = image.unreadable;
    } else if (m_run || tick.busy) {
        logPassedOver("upload");
    } else {
        answer += start(HourlyRunKind::UploadStage, due, tick, image);
    }
    return answer;
}

HourlyAnswer HourlyJob::beginHour(const HourlyTick& tick, const QDateTime& due, const HourImage& image)
{
    HourlyAnswer answer;
    endOpenHour(answer);
    Hour hour;
    hour.due = due;
    hour.dueMonotonic = tick.monotonic;
    hour.image = image;
    if (m_connected && m_connected->due == due)
        hour.boxes = std::exchange(m_connected->boxes, {});
    m_hour = hour;
    if (image.remoteName.isEmpty()) {
        answer.notice = HourlyNotice::ChooseFileToUpload;
        notSent(QStringLiteral("no file to send is chosen"));
    } else if (!image.unreadable.isEmpty()) {
        answer.fault = image.unreadable;
        notSent(QStringLiteral("the upload folder cannot be read from its box (%1)").arg(image.unreadable));
    } else if (m_run || tick.busy) {
        // A window blocked in that call could not have sent now either; the hour is
        // tried again once the call is over.
        logPassedOver("upload");
        m_hour->lastFailure = QStringLiteral("a call was under way at the upload second");
        planFirstTry(m_hour->lastFailure, tick.now);
    } else {
        answer += start(HourlyRunKind::UploadStage, due, tick, image);
    }
    return answer;
}

HourlyAnswer HourlyJob::disconnectTick(const HourlyTick& tick)
{
    // The rule first: a second box that is not a number ends the tick, but not before
    // the job has kept its time.
    bool due = false;
    QString fault;
    try {
        due = disconnectStageDue(tick.minuteBox, tick.secondBox, partsOf(tick.now));
    } catch (const std::exception& e) {
        fault = QString::fromUtf8(e.what());
    }
    HourlyAnswer answer = keepTime(tick);
    answer.fault = fault;
    if (!due || (m_run && m_run->run.kind == HourlyRunKind::DisconnectStage))
        return answer; // not its time, or this second's first tick is closing the session
    if (m_run || tick.busy) {
        if (!m_lateDisconnect) {
            m_lateDisconnect = tick.monotonic;
            eventlog::info(QStringLiteral("hourly: the disconnect stage is due while a call is under way; it runs as "
                                          "soon as the call is over"));
        }
        return answer;
    }
    return answer += start(HourlyRunKind::DisconnectStage, {}, tick);
}

HourlyAnswer HourlyJob::idle(const HourlyTick& tick)
{
    if (m_run || tick.busy)
        return {};
    if (m_lateDisconnect) {
        eventlog::info(QStringLiteral("hourly: the disconnect runs %1 s late, after the call that was under way")
                           .arg(tick.monotonic - *m_lateDisconnect, 0, 'f', 1));
        m_lateDisconnect.reset();
        return start(HourlyRunKind::DisconnectStage, {}, tick);
    }
    if (m_lateConnect) {
        const QDateTime due = *std::exchange(m_lateConnect, std::nullopt);
        if (tick.now < due) {
            eventlog::info(QStringLiteral("hourly: the connect stage runs late, after the call that was under way"));
            return connectStage(tick, due);
        }
        eventlog::info(QStringLiteral("hourly: the connect stage that came due during a call does not run: the "
                                      "upload second it was for has passed"));
    }
    return {};
}

HourlyAnswer HourlyJob::keepTime(const HourlyTick& tick)
{
    HourlyAnswer answer;
    Hour* hour = openHour();
    if (!hour)
        return answer;
    if (hour->state == State::Sending) {
        // Its second is over and no send of it is under way: a failure that will not
        // pass is final now, unless another send of the second landed meanwhile.
        if (!hourRuns() && wholeSecond(tick.now) != hour->due)
            notSent(hour->failed.isEmpty() ? QStringLiteral("nothing was sent at its second") : hour->failed);
        return answer;
    }
    if (hourRuns()) {
        // A try that runs into the next hour's cycle makes way for it.
        if (m_run->run.kind == HourlyRunKind::Try && !m_run->cut && hour->due.secsTo(tick.now) >= kNextCycleAfter) {
            m_run->cut = true;
            hour->stopping = QStringLiteral("a try was still under way when the next hour's cycle began");
            answer.cutShort = true;
            eventlog::warning(QStringLiteral("hourly: try %1 of %2 is still under way when the next hour's cycle "
                                             "begins; it is cut short")
                                  .arg(hour->tries)
                                  .arg(hour->image.remoteName));
        }
        return answer;
    }
    switch (triesLeft(hour->due, tick.now)) {
    case TriesLeft::Yes:
        break;
    case TriesLeft::NextCycle:
        notSent(QStringLiteral("the next hour's cycle begins before another try"));
        break;
    case TriesLeft::ClockSetBack:
        notSent(QStringLiteral("the clock was set back to before its second"));
        break;
    }
    return answer;
}

void HourlyJob::endOpenHour(HourlyAnswer& answer)
{
    Hour* hour = openHour();
    if (!hour)
        return;
    if (hourRuns() && !m_run->cut) {
        // Its run is cut short and only closes what it opened: the hour is decided now,
        // as the next one begins.
        m_run->cut = true;
        answer.cutShort = true;
        eventlog::warning(QStringLiteral("hourly: a run for %1 is still under way when the next hour's cycle begins; "
                                         "it is cut short")
                              .arg(hour->image.remoteName));
    }
    notSent(QStringLiteral("the next hour's cycle begins"));
}

HourlyAnswer HourlyJob::start(HourlyRunKind kind, const QDateTime& due, const HourlyTick& tick, HourImage image)
{
    Run run;
    run.run.id = ++m_lastRun;
    run.run.kind = kind;
    run.run.image = std::move(image);
    run.due = due;
    run.hadSession = tick.connected;
    run.loggedIn = tick.connected;
    switch (kind) {
    case HourlyRunKind::ConnectStage:
        run.run.first = HourlyStep::Connect;
        break;
    case HourlyRunKind::UploadStage:
        run.run.first = HourlyStep::ChangeFolder;
        break;
    case HourlyRunKind::DisconnectStage:
        run.run.first = HourlyStep::Disconnect;
        break;
    case HourlyRunKind::Try:
        run.run.first = HourlyStep::CheckImage;
        break;
    }
    m_run = run;
    HourlyAnswer answer;
    answer.run = run.run;
    return answer;
}

HourlyNext HourlyJob::stepDone(int run, HourlyStep step, const std::optional<FtpFailure>& failure, const QDateTime& now)
{
    HourlyNext next;
    if (!m_run || m_run->run.id != run)
        return next; // a run the job has let go of (the program is ending)
    Run& current = *m_run;
    switch (current.run.kind) {
    case HourlyRunKind::ConnectStage:
        if (step == HourlyStep::Connect) {
            // Recorded before any box opens: the upload stage learns from it why it
            // finds no session.
            const bool again = m_connected && m_connected->due == current.due;
            m_connected = Connected{current.due, failure, again ? m_connected->boxes : QList<std::uint64_t>{}};
            next.showFailure = failure.has_value();
            if (!failure)
                next.step = HourlyStep::List;
        }
        break;
    case HourlyRunKind::UploadStage:
        if (step == HourlyStep::ChangeFolder) {
            // The upload goes ahead into the current folder even when the change failed.
            next.showFailure = failure.has_value();
            next.step = HourlyStep::Upload;
        } else if (step == HourlyStep::Upload) {
            next = uploadDone(current, failure, now);
        }
        break;
    case HourlyRunKind::DisconnectStage:
        break;
    case HourlyRunKind::Try:
        next = tryStepDone(current, step, failure, now);
        break;
    }
    if (next.step == HourlyStep::Done)
        runEnded();
    return next;
}

HourlyNext HourlyJob::uploadDone(Run& run, const std::optional<FtpFailure>& failure, const QDateTime& now)
{
    HourlyNext next;
    Hour* hour = openHour();
    if (hour && hour->due != run.due)
        hour = nullptr;
    if (!failure) {
        if (hour) {
            if (hour->state == State::Retrying)
                eventlog::info(QStringLiteral("hourly: %1 landed on the second's other send; no try is needed")
                                   .arg(hour->image.remoteName));
            next.closeBoxes = hour->boxes;
            landed();
        }
        return next;
    }
    next.showFailure = true;
    // Decided once per hour, by the first send that failed; the second's other send
    // may still land it.
    if (!hour || hour->state != State::Sending || !hour->failed.isEmpty())
        return next;
    // Why the hour failed says whether it may pass. Without a session at its second, that
    // is why its connect failed; with no connect made for it at all (a second box under
    // 10 never connects), it fails as it always did.
    std::optional<FtpFailure> why = failure;
    if (!run.hadSession) {
        if (!m_connected || m_connected->due != run.due) {
            hour->failed = QStringLiteral("no session at its second, and no connect was made for it");
            hour->lastFailure = QStringLiteral("no connect was made for it");
            return next;
        }
        if (m_connected->failure)
            why = m_connected->failure;
    }
    const QString reason = FtpSession::describe(*why);
    hour->lastFailure = FtpSession::brief(*why);
    if (mayPass(*why))
        planFirstTry(reason, now);
    else
        hour->failed = reason + QStringLiteral("; that will not pass within the hour, so it is not tried again");
    return next;
}

void HourlyJob::planFirstTry(const QString& reason, const QDateTime& now)
{
    Hour& hour = *m_hour;
    const std::optional<QDateTime> next = nextTryAt(hour.due, now, 0);
    if (!next) {
        notSent(reason + QStringLiteral("; no time is left before the next hour's cycle"));
        return;
    }
    hour.state = State::Retrying;
    hour.nextTry = *next;
    eventlog::warning(QStringLiteral("hourly: %1 did not land at %2 (%3); try 1 at %4")
                          .arg(hour.image.remoteName, timeText(hour.due), reason, timeText(*next)));
}

HourlyNext HourlyJob::tryStepDone(Run& run, HourlyStep step, const std::optional<FtpFailure>& failure,
                                  const QDateTime& now)
{
    HourlyNext next;
    if (step == HourlyStep::Goodbye || step == HourlyStep::Disconnect)
        return next;
    Hour* hour = openHour();
    if (!hour || hour->due != run.due) {
        // Its hour was decided meanwhile (the next one began): the try only closes what
        // it opened.
        next.step = afterTry(run);
        return next;
    }
    if (failure) {
        tryFailed(*failure, now);
        next.step = afterTry(run);
        return next;
    }
    switch (step) {
    case HourlyStep::CheckImage:
        next.step = run.loggedIn ? HourlyStep::ChangeFolder : HourlyStep::Connect;
        break;
    case HourlyStep::Connect:
        run.loggedIn = true;
        next.step = HourlyStep::ChangeFolder;
        break;
    case HourlyStep::ChangeFolder:
        next.step = HourlyStep::Upload;
        break;
    case HourlyStep::Upload:
        eventlog::info(QStringLiteral("hourly: %1 landed on try %2, %3 s after its second")
                           .arg(hour->image.remoteName)
                           .arg(hour->tries)
                           .arg(hour->due.secsTo(now)));
        next.closeBoxes = hour->boxes;
        next.step = afterTry(run);
        landed();
        return next;
    default:
        break;
    }
    // A try that was stopped or must make way goes no further than its goodbye.
    if (run.cut || !hour->stopping.isEmpty())
        next.step = afterTry(run);
    return next;
}

HourlyStep HourlyJob::afterTry(Run& run) const
{
    if (!run.loggedIn)
        return HourlyStep::Done;
    if (!run.hadSession)
        return HourlyStep::Goodbye; // its own login
    // The operator's session is left as it was; once cut short it is of no use any more,
    // and the next hour's connect stage would find it open.
    return run.cut ? HourlyStep::Disconnect : HourlyStep::Done;
}

void HourlyJob::tryFailed(const FtpFailure& failure, const QDateTime& now)
{
    Hour& hour = *m_hour;
    hour.lastFailure = FtpSession::brief(failure);
    if (m_run->cut || !hour.stopping.isEmpty())
        return; // decided when the run ends, with why it was stopped
    const QString reason = FtpSession::describe(failure);
    if (!mayPass(failure)) {
        notSent(
            QStringLiteral("try %1 failed (%2), and that will not pass within the hour").arg(hour.tries).arg(reason));
        return;
    }
    const std::optional<QDateTime> next = nextTryAt(hour.due, now, hour.tries);
    if (!next) {
        notSent(QStringLiteral("try %1 failed (%2); the next hour's cycle begins before another")
                    .arg(hour.tries)
                    .arg(reason));
        return;
    }
    hour.nextTry = *next;
    eventlog::warning(QStringLiteral("hourly: try %1 of %2 failed (%3); try %4 at %5")
                          .arg(hour.tries)
                          .arg(hour.image.remoteName, reason)
                          .arg(hour.tries + 1)
                          .arg(timeText(*next)));
}

void HourlyJob::runFaulted(int run)
{
    if (!m_run || m_run->run.id != run)
        return;
    if (Hour* hour = openHour(); hour && hour->due == m_run->due) {
        if (m_run->run.kind == HourlyRunKind::UploadStage && hour->state == State::Sending && hour->failed.isEmpty())
            hour->failed = QStringLiteral("its upload stage ended on a fault");
        else if (m_run->run.kind == HourlyRunKind::Try && hour->stopping.isEmpty())
            hour->stopping = QStringLiteral("a try ended on a fault");
    }
    runEnded();
}

void HourlyJob::runEnded()
{
    m_ended = std::exchange(m_run, std::nullopt);
    Hour* hour = openHour();
    if (hour && hour->due == m_ended->due && !hour->stopping.isEmpty())
        notSent(hour->stopping);
}

bool HourlyJob::hourRuns() const
{
    return m_run && m_hour && m_run->due == m_hour->due;
}

void HourlyJob::boxOpened(int run, std::uint64_t box)
{
    const Run* of = m_run && m_run->run.id == run ? &*m_run : m_ended && m_ended->run.id == run ? &*m_ended : nullptr;
    if (!of || box == 0)
        return;
    if (of->run.kind == HourlyRunKind::ConnectStage) {
        // The hour it connected for begins at its upload second.
        if (m_connected && m_connected->due == of->due)
            m_connected->boxes << box;
    } else if (Hour* hour = openHour(); hour && hour->due == of->due) {
        hour->boxes << box;
    }
}

void HourlyJob::stopped(const QString& why)
{
    Hour* hour = openHour();
    if (!hour)
        return;
    if (hourRuns())
        hour->stopping = why; // what runs for it now may still land it
    else
        notSent(hour->state == State::Sending && !hour->failed.isEmpty() ? hour->failed : why);
}

void HourlyJob::ending(const QString& why)
{
    // No answer comes any more, for a run under way or a stage that waits.
    m_run.reset();
    m_lateConnect.reset();
    m_lateDisconnect.reset();
    if (openHour())
        notSent(why, true);
}

void HourlyJob::landed()
{
    Hour& hour = *m_hour;
    hour.state = State::Landed;
    hour.boxes.clear();
    if (onOutcome)
        onOutcome(HourOutcome{hour.due, hour.image, true, hour.tries, {}, false});
}

void HourlyJob::notSent(const QString& why, bool cutByEnd)
{
    Hour& hour = *m_hour;
    hour.state = State::NotSent;
    eventlog::warning(QStringLiteral("hourly: %1 not sent: %2").arg(hour.image.remoteName, why));
    if (onOutcome)
        onOutcome(HourOutcome{hour.due, hour.image, false, hour.tries,
                              hour.lastFailure.isEmpty() ? why : hour.lastFailure, cutByEnd});
}
