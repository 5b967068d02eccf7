// The timers' line-up with the wall clock: ticks just after each whole and half second
// whenever the timer was armed, one fixed order of the timers within a tick, and a
// clock set back or forward that neither stops the ticks nor makes up for lost ones.
#include "window/scheduler/formTimer.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QMap>
#include <QTest>

#include <algorithm>
#include <vector>

namespace {

qint64 clockOffset = 0;
qint64 shiftedClock()
{
    return QDateTime::currentMSecsSinceEpoch() + clockOffset;
}

int clockReads = 0;
qint64 countedClock()
{
    ++clockReads;
    return QDateTime::currentMSecsSinceEpoch();
}

// Waits, handling events, until the wall clock is this far into its second, or up to a
// tenth of a second further: a loaded machine may wake the test too late for the one
// millisecond asked for, and then it waits for the next second.
void waitForPhase(int milliseconds)
{
    for (qint64 phase = QDateTime::currentMSecsSinceEpoch() % 1000; phase < milliseconds || phase >= milliseconds + 100;
         phase = QDateTime::currentMSecsSinceEpoch() % 1000)
        QTest::qWait(int((milliseconds - phase + 1000) % 1000));
}

// The lateness a quarter of the ticks stay within. A loaded machine holds back some
// ticks, even most of them; a timer off its line-up is late by as much on every tick.
qint64 lowerQuartile(std::vector<qint64> late)
{
    std::sort(late.begin(), late.end());
    return late[late.size() / 4];
}

} // namespace

class TestFormTimer : public QObject {
    Q_OBJECT
private slots:
    void cleanup();
    void ticksComeJustAfterTheWholeAndHalfSecond();
    void timersTickInTheOrderTheyWereArmed();
    void aClockSetBackOrForwardKeepsTheTicksComing();
};

void TestFormTimer::cleanup()
{
    FormTimer::setWallClock(nullptr);
    clockOffset = 0;
}

void TestFormTimer::ticksComeJustAfterTheWholeAndHalfSecond()
{
    // Armed about 0.4 s into a second (and a clock timer at 0.7 s), as an operator might.
    FormTimer stage, clock;
    std::vector<qint64> stageTicks, clockTicks;
    connect(&stage, &FormTimer::timeout, [&] { stageTicks.push_back(QDateTime::currentMSecsSinceEpoch()); });
    connect(&clock, &FormTimer::timeout, [&] { clockTicks.push_back(QDateTime::currentMSecsSinceEpoch()); });
    waitForPhase(400);
    stage.setInterval(500);
    const qint64 armed = QDateTime::currentMSecsSinceEpoch();
    waitForPhase(700);
    clock.setInterval(1000);
    QTRY_VERIFY_WITH_TIMEOUT(stageTicks.size() >= 12 && clockTicks.size() >= 6, 15000);

    // The first tick at the coming half second, not a whole interval after arming, which
    // would make it 0.4 s late or more.
    const qint64 firstLate = stageTicks.front() - (armed / 500 + 1) * 500;
    QVERIFY2(firstLate < 350, qPrintable(QString::number(firstLate)));
    for (const auto& [ticks, interval] : {std::pair{&stageTicks, 500}, std::pair{&clockTicks, 1000}}) {
        // A few milliseconds after the whole or half second, not 0.4 s or 0.7 s after it
        // as the arming would have it.
        std::vector<qint64> late;
        for (qint64 t : *ticks)
            late.push_back(t % interval);
        QVERIFY2(lowerQuartile(late) < 25, qPrintable(QString::number(lowerQuartile(late))));
        // None skipped, none doubled: one tick per interval from the first to the last,
        // give or take the one a stall longer than an interval costs.
        const qint64 intervals = (ticks->back() - ticks->front() + interval / 2) / interval;
        QVERIFY2(qAbs(qint64(ticks->size()) - 1 - intervals) <= 1,
                 qPrintable(QStringLiteral("%1 ticks in %2 intervals").arg(ticks->size()).arg(intervals)));
    }
}

void TestFormTimer::timersTickInTheOrderTheyWereArmed()
{
    // Like the hourly stages: armed in one go, then ticking together on every beat;
    // plus one of twice their interval, armed before them. A beat is every tick handled
    // between two readings of the clock: the beat reads it as it posts its ticks, which
    // are all handled before it runs again, so a beat that a loaded machine delays across
    // a 50 ms line stays one beat.
    FormTimer::setWallClock(countedClock);
    FormTimer slow, refresher, disconnect, connectStage, upload;
    QMap<int, QStringList> beats; // clock readings so far -> timers in the order they ticked
    const std::pair<FormTimer*, QString> timers[] = {{&slow, "slow"},
                                                     {&refresher, "refresher"},
                                                     {&disconnect, "disconnect"},
                                                     {&connectStage, "connect"},
                                                     {&upload, "upload"}};
    for (const auto& [timer, name] : timers)
        connect(timer, &FormTimer::timeout, [&beats, name = name] { beats[clockReads] << name; });
    slow.setInterval(100);
    for (FormTimer* t : {&refresher, &disconnect, &connectStage, &upload})
        t->setInterval(50);
    QTRY_VERIFY_WITH_TIMEOUT(beats.size() >= 22, 10000);

    const QStringList four = {"refresher", "disconnect", "connect", "upload"};
    auto check = [&](const QStringList& expected) {
        // The first beat may be cut by the arming.
        int slowTicks = 0;
        for (auto beat = std::next(beats.cbegin()); beat != beats.cend(); ++beat) {
            const bool slowToo = beat->contains("slow");
            QVERIFY2(*beat == (slowToo ? QStringList{"slow"} + expected : expected), qPrintable(beat->join(' ')));
            slowTicks += slowToo ? 1 : 0;
        }
        // The slow one on every other beat or so, not on none or on all.
        QVERIFY2(slowTicks * 4 >= beats.size() && slowTicks * 4 <= beats.size() * 3,
                 qPrintable(QString::number(slowTicks)));
    };
    check(four);

    // Armed again, a timer goes to the end of the order.
    refresher.setEnabled(false);
    refresher.setEnabled(true);
    QTest::qWait(100);
    beats.clear();
    QTRY_VERIFY_WITH_TIMEOUT(beats.size() >= 10, 10000);
    check({"disconnect", "connect", "upload", "refresher"});
}

void TestFormTimer::aClockSetBackOrForwardKeepsTheTicksComing()
{
    FormTimer::setWallClock(shiftedClock);
    FormTimer timer;
    int ticks = 0;
    connect(&timer, &FormTimer::timeout, [&] { ++ticks; });
    timer.setInterval(100);
    QTRY_VERIFY_WITH_TIMEOUT(ticks >= 3, 5000);

    // Set back an hour (a clock corrected by hand), then forward two: the ticks go on at
    // once, not an hour later, and the jump forward brings one tick, not a burst of the
    // ones it skipped. A loaded machine may lose ticks, never add them.
    for (const qint64 jump : {qint64{-3600 * 1000 + 37}, qint64{2 * 3600 * 1000}}) {
        clockOffset += jump;
        ticks = 0;
        QElapsedTimer watch;
        watch.start();
        QTRY_VERIFY_WITH_TIMEOUT(ticks >= 5, 5000);
        QVERIFY2(ticks <= watch.elapsed() / 100 + 2,
                 qPrintable(QStringLiteral("%1 ticks in %2 ms").arg(ticks).arg(watch.elapsed())));
    }

    // And lined up with the new time, 37 ms off the old one.
    std::vector<qint64> phases;
    connect(&timer, &FormTimer::timeout, [&] { phases.push_back(shiftedClock() % 100); });
    QTRY_VERIFY_WITH_TIMEOUT(phases.size() >= 8, 5000);
    QVERIFY2(lowerQuartile(phases) < 25, qPrintable(QString::number(lowerQuartile(phases))));
}

QTEST_GUILESS_MAIN(TestFormTimer)
#include "test_formtimer.moc"
