// When an hour that did not land is tried again, and which failures are worth it.
#include "core/ftp/passingFailure.h"
#include "core/scheduler/hourlyRetry.h"

#include <QTest>
#include <QTime>

using namespace wininet;

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

void TestHourlyRetry::whichFailuresMayPass()
{
    const auto mayPassWith = [](std::uint32_t code, int reply = 0) {
        return mayPass(FtpFailure{code, QStringLiteral("FtpPutFile"), ServerReply{reply, {}}, {}});
    };
    for (const std::uint32_t code :
         {ERROR_INTERNET_CANNOT_CONNECT, ERROR_INTERNET_TIMEOUT, ERROR_INTERNET_NAME_NOT_RESOLVED,
          ERROR_INTERNET_CONNECTION_ABORTED, ERROR_INTERNET_SECURITY_CHANNEL_ERROR, ERROR_FILE_NOT_FOUND,
          ERROR_HANDLE_EOF, ERROR_INVALID_HANDLE})
        QVERIFY2(mayPassWith(code), errorName(code).data());
    for (const std::uint32_t code :
         {ERROR_INTERNET_INVALID_CA, ERROR_INTERNET_SEC_CERT_CN_INVALID, ERROR_INTERNET_SEC_CERT_DATE_INVALID,
          ERROR_INTERNET_SEC_INVALID_CERT, ERROR_INVALID_PARAMETER, ERROR_INTERNET_OPERATION_CANCELLED})
        QVERIFY2(!mayPassWith(code), errorName(code).data());
    for (const int reply : {421, 450, 451, 452})
        QVERIFY2(mayPassWith(ERROR_INTERNET_EXTENDED_ERROR, reply), qPrintable(QString::number(reply)));
    for (const int reply : {530, 550, 552, 553})
        QVERIFY2(!mayPassWith(ERROR_INTERNET_EXTENDED_ERROR, reply), qPrintable(QString::number(reply)));
}

QTEST_APPLESS_MAIN(TestHourlyRetry)
#include "test_hourlyretry.moc"
