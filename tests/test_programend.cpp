// Ending the program at a set time of day: the checks, the wait, cancelling, a newer
// arming, the session closed before the end, and the window closed during the wait.
#include "core/ftp/modWinInet.h"

#include "formharness.h"

#include <QTest>

namespace {
struct EndTimer {
    EndTimer()
    {
        h.server.makeDir("pub");
        h.platform.setTime(10, 0, 0);
    }
    bool start()
    {
        if (!h.start())
            return false;
        emit h.f().Timer3->timeout();
        return true;
    }
    void set(const QString& hour, const QString& minute, const QString& second)
    {
        h.f().Text11->setText(hour);
        h.f().Text10->setText(minute);
        h.f().Text9->setText(second);
    }
    FormHarness h;
};
} // namespace

class TestProgramEnd : public QObject {
    Q_OBJECT
private slots:
    void checksAndTheirOrder_data();
    void checksAndTheirOrder();
    void endsAtTheSetTime_data();
    void endsAtTheSetTime();
    void minuteTypedDifferentlyDoesNotEnd();
    void cancelDuringTheWait();
    void newerArmingDecides();
    void invalidArmingDuringAWaitKeepsIt();
    void sessionClosedBeforeTheEnd();
    void closingTheWindowDuringTheWait();
    void clockTick();
};

void TestProgramEnd::checksAndTheirOrder_data()
{
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QString>("message");
    QTest::newRow("hour 25") << QStringList{"25", "00", "00"} << "時、分、秒を設定しなおして下さい";
    QTest::newRow("minute 60") << QStringList{"10", "60", "00"} << "時、分、秒を設定しなおして下さい";
    QTest::newRow("second 60") << QStringList{"10", "00", "60"} << "時、分、秒を設定しなおして下さい";
    QTest::newRow("range before empty") << QStringList{"", "60", "00"} << "時、分、秒を設定しなおして下さい";
    QTest::newRow("empty") << QStringList{"10", "", "00"} << "時、分、秒を設定して下さい";
    QTest::newRow("one digit") << QStringList{"7", "00", "00"} << "時、分、秒は２桁で設定して下さい";
}

void TestProgramEnd::checksAndTheirOrder()
{
    QFETCH(QStringList, boxes);
    QFETCH(QString, message);
    EndTimer t;
    QVERIFY(t.start());
    t.h.f().endWait() = 77;
    t.set(boxes[0], boxes[1], boxes[2]);
    QTest::mouseClick(t.h.f().Command3, Qt::LeftButton);
    QCOMPARE(t.h.platform.messages, QStringList{message});
    QVERIFY(t.h.f().Label10->text().isEmpty());
    QCOMPARE(t.h.f().endWait(), 77);
    QCOMPARE(t.h.platform.endCalls, 0);
}

void TestProgramEnd::endsAtTheSetTime_data()
{
    QTest::addColumn<QTime>("now");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<int>("wait");
    QTest::newRow("five seconds") << QTime(10, 0, 0) << QStringList{"10", "00", "05"} << 5;
    QTest::newRow("this second") << QTime(10, 0, 0) << QStringList{"10", "00", "00"} << 0;
    QTest::newRow("next day") << QTime(23, 0, 0) << QStringList{"01", "00", "00"} << 7200;
    QTest::newRow("hour 24") << QTime(10, 0, 0) << QStringList{"24", "30", "00"} << 52200;
}

void TestProgramEnd::endsAtTheSetTime()
{
    QFETCH(QTime, now);
    QFETCH(QStringList, boxes);
    QFETCH(int, wait);
    EndTimer t;
    t.h.platform.setTime(now.hour(), now.minute(), now.second());
    QVERIFY(t.start());
    t.set(boxes[0], boxes[1], boxes[2]);
    QTest::mouseClick(t.h.f().Command3, Qt::LeftButton);
    QCOMPARE(t.h.f().endWait(), wait);
    QCOMPARE(t.h.f().Label10->text(), QString("終了タイマ－作動中"));
    // The click is over and the window goes on; the end comes at its second, not before.
    if (wait > 0) {
        t.h.platform.advance(wait - 0.5);
        QCOMPARE(t.h.platform.endCalls, 0);
    }
    t.h.platform.advance(wait > 0 ? 0.5 : 0);
    QCOMPARE(t.h.platform.endCalls, 1);
    QVERIFY(t.h.platform.messages.isEmpty());
}

void TestProgramEnd::minuteTypedDifferentlyDoesNotEnd()
{
    EndTimer t;
    QVERIFY(t.start());
    t.set("10", " 5", "00"); // " 5" is worth 5, but never equals the clock's "05"
    t.h.f().Command3->click();
    QCOMPARE(t.h.f().endWait(), 300);
    t.h.platform.advance(400);
    QCOMPARE(t.h.platform.endCalls, 0);
    QCOMPARE(t.h.f().Label10->text(), QString("終了タイマ－作動中"));
    QVERIFY(t.h.platform.messages.isEmpty());
}

void TestProgramEnd::cancelDuringTheWait()
{
    EndTimer t;
    QVERIFY(t.start());
    t.set("10", "00", "30");
    t.h.f().Command3->click();
    t.h.platform.advance(4);
    QTest::mouseClick(t.h.f().Command7, Qt::LeftButton);
    QVERIFY(t.h.f().Label10->text().isEmpty());
    QCOMPARE(t.h.f().endWait(), 0);
    t.h.platform.advance(60);
    QCOMPARE(t.h.platform.endCalls, 0);
    QVERIFY(t.h.f().Label10->text().isEmpty());
}

void TestProgramEnd::newerArmingDecides()
{
    // Armed for 10:00:30, re-armed at 10:00:02 for 10:00:10: the program ends at
    // 10:00:10; the first arming's time then finds a newer wait.
    EndTimer t;
    QVERIFY(t.start());
    t.set("10", "00", "30");
    t.h.f().Command3->click();
    t.h.platform.advance(2);
    emit t.h.f().Timer3->timeout();
    t.set("10", "00", "10");
    QTest::mouseClick(t.h.f().Command3, Qt::LeftButton);
    t.h.platform.advance(8);
    QCOMPARE(t.h.platform.endCalls, 1);
    QCOMPARE(t.h.platform.timeOfDay().second(), 10);
    t.h.platform.advance(30);
    QCOMPARE(t.h.platform.endCalls, 1);

    // The other way round: the later arming's end lies after the earlier one's, and
    // only the later one ends.
    EndTimer u;
    QVERIFY(u.start());
    u.set("10", "00", "05");
    u.h.f().Command3->click();
    u.h.platform.advance(1);
    emit u.h.f().Timer3->timeout();
    u.set("10", "00", "20");
    u.h.f().Command3->click();
    u.h.platform.advance(4);
    QCOMPARE(u.h.platform.endCalls, 0);
    u.h.platform.advance(15);
    QCOMPARE(u.h.platform.endCalls, 1);
    QCOMPARE(u.h.platform.timeOfDay().second(), 20);
}

void TestProgramEnd::invalidArmingDuringAWaitKeepsIt()
{
    EndTimer t;
    QVERIFY(t.start());
    t.set("10", "00", "05");
    t.h.f().Command3->click();
    t.h.platform.advance(1);
    t.set("10", "00", "5");
    t.h.f().Command3->click();
    t.set("10", "00", "05");
    t.h.platform.advance(4);
    QCOMPARE(t.h.platform.messages, QStringList{"時、分、秒は２桁で設定して下さい"});
    QCOMPARE(t.h.platform.endCalls, 1);
}

void TestProgramEnd::sessionClosedBeforeTheEnd()
{
    EndTimer t;
    QVERIFY(t.start());
    t.h.f().click(t.h.f().cmdConnect);
    QVERIFY(t.h.f().connected());
    const wininet::HINTERNET internet = t.h.f().hInternet();
    t.set("10", "00", "03");
    t.h.f().Command3->click();
    t.h.platform.advance(3);
    QCOMPARE(t.h.platform.endCalls, 1);
    QVERIFY(!t.h.f().connected());
    QCOMPARE(t.h.f().hFtp(), 0);
    QCOMPARE(t.h.f().TreeView1->count(), 0);
    QVERIFY(t.h.f().cmdConnect->isEnabled());
    QTRY_VERIFY(t.h.server.commands().contains("QUIT"));
    // The Internet handle is left to the end of the process.
    QCOMPARE(t.h.f().hInternet(), internet);
}

void TestProgramEnd::closingTheWindowDuringTheWait()
{
    EndTimer t;
    QVERIFY(t.start());
    t.set("11", "00", "00");
    t.h.f().Command3->click();
    t.h.platform.advance(10);
    t.h.form->close();
    // The wait goes with the window; the unload has run and the program ends normally.
    t.h.platform.advance(3600);
    QCOMPARE(t.h.f().hInternet(), 0);
    QCOMPARE(t.h.platform.endCalls, 0);
}

void TestProgramEnd::clockTick()
{
    EndTimer t;
    t.h.platform.setTime(9, 5, 3);
    QVERIFY(t.start());
    QCOMPARE(t.h.f().Label6->text(), QString("9:05:03"));
    t.h.platform.setTime(13, 5, 3);
    emit t.h.f().Timer3->timeout();
    QCOMPARE(t.h.f().Label6->text(), QString("13:05:03"));
}

QTEST_MAIN(TestProgramEnd)
#include "test_programend.moc"
