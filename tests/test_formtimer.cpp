// The timers' line-up with the wall clock: ticks just after each whole and half second
// whenever the timer was armed, one fixed order of the timers within a tick, and a
// clock set back or forward that neither stops the ticks nor makes up for lost ones.
#include "window/scheduler/formTimer.h"

#include <QDateTime>
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

// Waits, handling events, until the wall clock is this far into its second.
void waitForPhase(int milliseconds)
{
    while (QDateTime::currentMSecsSinceEpoch() % 1000 != milliseconds)
        QTest::qWait(0);
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
    // Armed at 0.3 s into a second (and a clock timer at 0.7 s), as an operator might.
    FormTimer stage, clock;
    std::vector<qint64> stageTicks, clockTicks;
    connect(&stage, &FormTimer::timeout, [&] { stageTicks.push_back(QDateTime::currentMSecsSinceEpoch()); });
    connect(&clock, &FormTimer::timeout, [&] { clockTicks.push_back(QDateTime::currentMSecsSinceEpoch()); });
    waitForPhase(300);
    const qint64 armed = QDateTime::currentMSecsSinceEpoch();
    stage.setInterval(500);
    waitForPhase(700);
    clock.setInterval(1000);
    QTRY_VERIFY_WITH_TIMEOUT(stageTicks.size() >= 8 && clockTicks.size() >= 4, 10000);

    // The first tick at the coming half second, not a whole interval after arming.
    QVERIFY2(stageTicks.front() - armed < 300, qPrintable(QString::number(stageTicks.front() - armed)));
    std::vector<qint64> late;
    for (qint64 t : stageTicks)
        late.push_back(t % 500);
    for (qint64 t : clockTicks) {
        QVERIFY2(t % 1000 < 500, qPrintable(QString::number(t % 1000)));
        late.push_back(t % 1000);
    }
    // Each tick within a few milliseconds of its second on an idle machine; a loaded
    // one may hold one back now and then, never most of them.
    std::sort(late.begin(), late.end());
    const qint64 median = late[late.size() / 2];
    QVERIFY2(median < 25, qPrintable(QString::number(median)));
    QVERIFY2(late[late.size() * 3 / 4] < 60, qPrintable(QString::number(late[late.size() * 3 / 4])));
    // Still every 500 ms: no tick skipped, none doubled.
    for (size_t i = 1; i < stageTicks.size(); ++i) {
        const qint64 gap = stageTicks[i] - stageTicks[i - 1];
        QVERIFY2(gap > 350 && gap < 650, qPrintable(QString::number(gap)));
    }
}

void TestFormTimer::timersTickInTheOrderTheyWereArmed()
{
    // Like the hourly stages: armed in one go, then ticking together on every beat;
    // plus one of twice their interval, armed before them.
    FormTimer slow, refresher, disconnect, connectStage, upload;
    QMap<qint64, QStringList> beats; // beat (by its 50 ms slot) -> timers in the order they ticked
    const std::pair<FormTimer*, QString> timers[] = {{&slow, "slow"},
                                                     {&refresher, "refresher"},
                                                     {&disconnect, "disconnect"},
                                                     {&connectStage, "connect"},
                                                     {&upload, "upload"}};
    for (const auto& [timer, name] : timers)
        connect(timer, &FormTimer::timeout,
                [&beats, name = name] { beats[QDateTime::currentMSecsSinceEpoch() / 50] << name; });
    slow.setInterval(100);
    for (FormTimer* t : {&refresher, &disconnect, &connectStage, &upload})
        t->setInterval(50);
    QTRY_VERIFY_WITH_TIMEOUT(beats.size() >= 22, 10000);

    const QStringList four = {"refresher", "disconnect", "connect", "upload"};
    auto check = [&](const QStringList& expected) {
        const QList<qint64> keys = beats.keys();
        // The first and the last beat may be cut by the arming and by this check.
        for (qsizetype i = 1; i + 1 < keys.size(); ++i) {
            const QStringList got = beats[keys[i]];
            const QStringList want =
                keys[i] % 2 == 0 && got.contains("slow") ? QStringList{"slow"} + expected : expected;
            QVERIFY2(got == want, qPrintable(got.join(' ')));
        }
    };
    check(four);
    int slowTicks = 0;
    for (const QStringList& beat : std::as_const(beats))
        slowTicks += beat.count("slow");
    QVERIFY(slowTicks >= 8);

    // Armed again, a timer goes to the end of the order.
    refresher.setEnabled(false);
    refresher.setEnabled(true);
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

    // Set back an hour (a clock corrected by hand): the ticks go on at once, not in an hour.
    clockOffset = -3600 * 1000 + 37;
    ticks = 0;
    QTest::qWait(600);
    QVERIFY2(ticks >= 4 && ticks <= 7, qPrintable(QString::number(ticks)));

    // Forward two hours: one tick for the jump, no burst for the ticks it skipped.
    clockOffset += 2 * 3600 * 1000;
    ticks = 0;
    QTest::qWait(600);
    QVERIFY2(ticks >= 4 && ticks <= 7, qPrintable(QString::number(ticks)));

    // And lined up with the new time.
    std::vector<qint64> phases;
    connect(&timer, &FormTimer::timeout, [&] { phases.push_back(shiftedClock() % 100); });
    QTRY_VERIFY_WITH_TIMEOUT(phases.size() >= 5, 5000);
    std::sort(phases.begin(), phases.end());
    QVERIFY2(phases[phases.size() / 2] < 25, qPrintable(QString::number(phases[phases.size() / 2])));
}

QTEST_GUILESS_MAIN(TestFormTimer)
#include "test_formtimer.moc"
