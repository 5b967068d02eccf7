// When an hour that did not land is tried again, and which failures are worth it.
#include "core/ftp/passingFailure.h"
#include "core/scheduler/hourlyRetry.h"

#include <QTest>
#include <QTime>

namespace {
int at(const char* time)
{
    return QTime(0, 0).secsTo(QTime::fromString(QString::fromLatin1(time), QStringLiteral("H:mm:ss")));
}
} // namespace

class TestHourlyRetry : public QObject {
    Q_OBJECT
private slots:
    void nextTry_data();
    void nextTry();
    void triesOver();
    void whichFailuresMayPass();
};

void TestHourlyRetry::nextTry_data()
{
    QTest::addColumn<QString>("due");
    QTest::addColumn<QString>("failed");
    QTest::addColumn<int>("tries");
    QTest::addColumn<QString>("next"); // empty: none
    // clang-format off
    QTest::newRow("the stage failed") << "10:30:20" << "10:30:20" << 0 << "10:30:35";
    QTest::newRow("first try failed after its connect timed out") << "10:30:20" << "10:31:05" << 1 << "10:31:35";
    QTest::newRow("doubled") << "10:30:20" << "10:32:00" << 3 << "10:34:00";
    QTest::newRow("at most five minutes") << "10:30:20" << "10:40:00" << 5 << "10:45:00";
    QTest::newRow("and stays there") << "10:30:20" << "10:40:00" << 40 << "10:45:00";
    QTest::newRow("last one that fits") << "10:30:20" << "11:23:10" << 6 << "11:28:10";
    QTest::newRow("would run into 11:30:10") << "10:30:20" << "11:23:11" << 6 << "";
    QTest::newRow("late in the hour") << "10:59:55" << "10:59:58" << 0 << "11:00:13";
    QTest::newRow("across midnight") << "23:59:55" << "0:03:00" << 2 << "0:04:00";
    QTest::newRow("clock jumped past the next cycle") << "10:30:20" << "11:40:00" << 1 << "";
    QTest::newRow("clock set back an hour") << "10:30:20" << "9:31:00" << 1 << "";
    QTest::newRow("clock set back a few seconds") << "10:30:20" << "10:30:15" << 0 << "10:30:35";
    // clang-format on
}

void TestHourlyRetry::nextTry()
{
    QFETCH(QString, due);
    QFETCH(QString, failed);
    QFETCH(int, tries);
    QFETCH(QString, next);
    const std::optional<int> got = nextTryAt(at(qPrintable(due)), at(qPrintable(failed)), tries);
    if (next.isEmpty())
        QVERIFY2(!got, qPrintable(QTime(0, 0).addSecs(got.value_or(0)).toString()));
    else
        QCOMPARE(QTime(0, 0).addSecs(got.value_or(-1)).toString("H:mm:ss"), next);
}

void TestHourlyRetry::triesOver()
{
    QVERIFY(!::triesOver(at("10:30:20"), at("10:30:20")));
    QVERIFY(!::triesOver(at("10:30:20"), at("11:28:10")));
    QVERIFY(::triesOver(at("10:30:20"), at("11:28:11")));
    QVERIFY(::triesOver(at("10:30:20"), at("10:20:00")));
    QVERIFY(!::triesOver(at("23:59:55"), at("0:45:00")));
    QVERIFY(::triesOver(at("23:59:55"), at("0:58:00")));
}

void TestHourlyRetry::whichFailuresMayPass()
{
    const auto failure = [](std::uint32_t code, int reply = 0) {
        return FtpFailure{code, QStringLiteral("FtpPutFile"), ServerReply{reply, {}}, {}};
    };
    const std::pair<FtpFailure, bool> table[] = {
        {failure(ERROR_INTERNET_CANNOT_CONNECT), true},
        {failure(ERROR_INTERNET_TIMEOUT), true},
        {failure(ERROR_INTERNET_NAME_NOT_RESOLVED), true},
        {failure(ERROR_INTERNET_CONNECTION_ABORTED), true},
        {failure(ERROR_INTERNET_SECURITY_CHANNEL_ERROR), true},
        {failure(ERROR_FILE_NOT_FOUND), true},
        {failure(ERROR_HANDLE_EOF), true},
        {failure(ERROR_INVALID_HANDLE), true},
        {failure(ERROR_INTERNET_EXTENDED_ERROR, 421), true},
        {failure(ERROR_INTERNET_EXTENDED_ERROR, 450), true},
        {failure(ERROR_INTERNET_EXTENDED_ERROR, 451), true},
        {failure(ERROR_INTERNET_EXTENDED_ERROR, 452), true},
        {failure(ERROR_INTERNET_EXTENDED_ERROR, 530), false},
        {failure(ERROR_INTERNET_EXTENDED_ERROR, 550), false},
        {failure(ERROR_INTERNET_EXTENDED_ERROR, 552), false},
        {failure(ERROR_INTERNET_EXTENDED_ERROR, 553), false},
        {failure(ERROR_INTERNET_INVALID_CA), false},
        {failure(ERROR_INTERNET_SEC_CERT_CN_INVALID), false},
        {failure(ERROR_INTERNET_SEC_CERT_DATE_INVALID), false},
        {failure(ERROR_INTERNET_SEC_INVALID_CERT), false},
        {failure(ERROR_INVALID_PARAMETER), false},
        {failure(ERROR_INTERNET_OPERATION_CANCELLED), false},
    };
    for (const auto& [f, passes] : table)
        QVERIFY2(mayPass(f) == passes, qPrintable(QStringLiteral("%1 %2").arg(f.code).arg(f.reply.code)));
}

QTEST_APPLESS_MAIN(TestHourlyRetry)
#include "test_hourlyretry.moc"
