// The clock text and the number rules that the scheduler's comparisons rest on.
#include "core/base/runtimeFault.h"
#include "core/scheduler/clockText.h"

#include <QTest>

class TestClockText : public QObject {
    Q_OBJECT
private slots:
    void clockText();
    void split_data();
    void split();
    void numericValue_data();
    void numericValue();
    void strictNumber();
    void endWait_data();
    void endWait();
};

void TestClockText::clockText()
{
    QCOMPARE(::clockText(QTime(9, 5, 3)), QString("9:05:03"));
    QCOMPARE(::clockText(QTime(13, 5, 3)), QString("13:05:03"));
    QCOMPARE(::clockText(QTime(0, 0, 0)), QString("0:00:00"));
    QCOMPARE(::clockText(QTime(23, 59, 59, 999)), QString("23:59:59"));
}

void TestClockText::split_data()
{
    QTest::addColumn<QString>("clock");
    QTest::addColumn<QString>("hour");
    QTest::addColumn<QString>("minute");
    QTest::addColumn<QString>("second");
    // clang-format off
    QTest::newRow("one-digit hour") << "9:05:03" << "09" << "05" << "03";
    QTest::newRow("two-digit hour") << "13:05:03" << "13" << "05" << "03";
    QTest::newRow("midnight") << "0:00:00" << "00" << "00" << "00";
    QTest::newRow("ten") << "10:30:20" << "10" << "30" << "20";
    // Shapes the clock never produces still split without a fault.
    QTest::newRow("leading zero") << "09:05:03" << "09" << ":0" << ":0";
    QTest::newRow("empty") << "" << "" << "" << "";
    // clang-format on
}

void TestClockText::split()
{
    QFETCH(QString, clock);
    const ClockParts p = SplitClockText(clock);
    QTEST(p.hour, "hour");
    QTEST(p.minute, "minute");
    QTEST(p.second, "second");
}

void TestClockText::numericValue_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("digits") << "30" << 30.0;
    QTest::newRow("leading zero") << "05" << 5.0;
    QTest::newRow("blank before") << " 5" << 5.0;
    QTest::newRow("blank inside") << "1 2" << 12.0;
    QTest::newRow("tab and line feed") << "\t1\n5" << 15.0;
    QTest::newRow("trailing letters") << "59x" << 59.0;
    QTest::newRow("letters") << "ab" << 0.0;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("negative") << "-5" << -5.0;
    QTest::newRow("fraction") << "2.5" << 2.5;
    QTest::newRow("exponent") << "1e2" << 100.0;
    QTest::newRow("lone sign") << "-" << 0.0;
    QTest::newRow("full-width digits are not digits") << "５" << 0.0;
    QTest::newRow("huge exponent") << "1e999" << 0.0;
}

void TestClockText::numericValue()
{
    QFETCH(QString, text);
    QFETCH(double, value);
    QCOMPARE(::numericValue(text), value);
}

void TestClockText::strictNumber()
{
    QCOMPARE(::strictNumber("20"), 20.0);
    QCOMPARE(::strictNumber(" 5 "), 5.0);
    QCOMPARE(::strictNumber("-3"), -3.0);
    for (const char* bad : {"", " ", "5x", "x5", "1 2", "--1"})
        QVERIFY_THROWS_EXCEPTION(RuntimeFault, ::strictNumber(QString::fromUtf8(bad)));
}

void TestClockText::endWait_data()
{
    QTest::addColumn<QList<double>>("endNow");
    QTest::addColumn<long>("wait");
    QTest::newRow("five seconds") << QList<double>{10, 0, 5, 10, 0, 0} << 5L;
    QTest::newRow("this second") << QList<double>{10, 0, 0, 10, 0, 0} << 0L;
    QTest::newRow("over midnight") << QList<double>{1, 0, 0, 23, 0, 0} << 7200L;
    QTest::newRow("hour 24") << QList<double>{24, 30, 0, 10, 0, 0} << 52200L;
    QTest::newRow("half goes to even, down") << QList<double>{0, 0, 2.5, 0, 0, 0} << 2L;
    QTest::newRow("half goes to even, up") << QList<double>{0, 0, 3.5, 0, 0, 0} << 4L;
}

void TestClockText::endWait()
{
    QFETCH(QList<double>, endNow);
    QFETCH(long, wait);
    QCOMPARE(programEndWait(endNow[0], endNow[1], endNow[2], endNow[3], endNow[4], endNow[5]), wait);
}

QTEST_GUILESS_MAIN(TestClockText)
#include "test_clocktext.moc"
