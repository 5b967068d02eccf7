// The hourly upload: arming, the refresher, and the connect, upload and disconnect
// stages, driven by a stepped clock against a real FTP server; the owner told of lost
// hours. (The tries' rules are the hourly job's, tested in the core; a try landing
// beneath an open box is in test_headless.)
#include "core/ftp/modWinInet.h"

#include "formharness.h"
#include "messagetestserver.h"
#include "testfiles.h"

#include <QFile>
#include <QTest>

using namespace wininet;

namespace {

int countOf(const QStringList& commands, const QString& command)
{
    return static_cast<int>(commands.count(command));
}

QByteArray settings(const char* minute, const char* second)
{
    return QByteArray("\"ftp1\",\"user\",\"secret\",\"ftp1/pub\",\"") + minute + "\",\"" + second + "\"\r\n";
}

// A harness whose server has /pub, whose program folder holds 10.jpg and 11.jpg, set
// to the given minute and second, with the clock at 10:29:00.
struct Hourly {
    explicit Hourly(const char* minute = "30", const char* second = "20", FtpTestServerOptions options = {})
        : h(options, settings(minute, second))
    {
        h.server.makeDir("pub");
        h.folder.writeFile("10.jpg", ten);
        h.folder.writeFile("11.jpg", eleven);
        h.platform.setTime(10, 29, 0);
    }
    bool start()
    {
        if (!h.start())
            return false;
        emit h.f().Timer3->timeout(); // the clock label as the first second shows it
        return true;
    }
    FTPformTestAccess& f() { return h.f(); }
    QByteArray onServer(const QString& path) const
    {
        QFile file(h.server.path(path));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QByteArray ten = randomBytes(70000);
    QByteArray eleven = randomBytes(50000);
    FormHarness h;
};

} // namespace

class TestHourly : public QObject {
    Q_OBJECT
private slots:
    void fullTimeline();
    void armingChecks();
    void whatStartsAndStopsTheStages();
    void refresherFollowsTheHour();
    void secondFiveNeverConnects();
    void secondFiftyFiveNeverDisconnects();
    void operatorAlreadyConnected();
    void destinationIsTheServerRoot();
    void boxesEditedAfterArming();
    void stopKeepsConnectingWithoutUploads();
    void emptyServerBox();
    void faultyHoursDoNotStopTheNext();
    void theOwnerHearsOfLostHoursOnceAndOfTheirEnd();
};

void TestHourly::fullTimeline()
{
    Hourly t;
    QVERIFY(t.start());
    FTPformTestAccess& f = t.f();
    const QString server = t.h.serverName();
    QTest::mouseClick(f.Command4, Qt::LeftButton);
    QCOMPARE(f.Text5->text(), t.h.folder.path() + "/10.jpg");
    QCOMPARE(f.sendFile(), QString("10.jpg"));

    stepClockTo(t.h, 10, 30, 9, 500);
    QVERIFY(!f.connected());
    QCOMPARE(countOf(t.h.server.commands(), "USER user"), 0);
    QCOMPARE(f.Label13->text(), QString("転送タイマ－作動中（１時間に１度転送してます）"));

    stepClockTo(t.h, 10, 30, 10);
    QVERIFY(f.connected());
    QVERIFY(f.TreeView1->contains(server + "/pub"));
    QVERIFY(!f.cmdConnect->isEnabled());

    stepClockTo(t.h, 10, 30, 20, 500);
    QCOMPARE(t.h.server.uploadsOf("10.jpg"), 2);
    QCOMPARE(t.onServer("pub/10.jpg"), t.ten);

    stepClockTo(t.h, 10, 30, 29, 500);
    QVERIFY(f.connected());
    stepClockTo(t.h, 10, 30, 30, 500);
    QVERIFY(!f.connected());
    QCOMPARE(f.hFtp(), 0);
    QCOMPARE(f.TreeView1->count(), 0);
    QVERIFY(f.cmdConnect->isEnabled());
    QCOMPARE(countOf(t.h.server.commands(), "QUIT"), 1);

    // Nothing happens for the rest of the hour; then the same with 11.jpg.
    stepClockTo(t.h, 11, 30, 9, 500);
    QCOMPARE(countOf(t.h.server.commands(), "USER user"), 1);
    QCOMPARE(f.sendFile(), QString("11.jpg"));
    stepClockTo(t.h, 11, 30, 35);
    QCOMPARE(countOf(t.h.server.commands(), "USER user"), 2);
    QCOMPARE(t.h.server.uploadsOf("11.jpg"), 2);
    QCOMPARE(t.onServer("pub/11.jpg"), t.eleven);
    QVERIFY(!f.connected());
    QVERIFY(t.h.platform.messages.isEmpty());
    QCOMPARE(t.h.platform.endCalls, 0);
}

void TestHourly::armingChecks()
{
    Hourly t;
    QVERIFY(t.start());
    FTPformTestAccess& f = t.f();

    f.Text8->setText("60");
    f.Command4->click();
    QCOMPARE(t.h.platform.messages, QStringList{"分、秒を設定しなおして下さい"});
    QCOMPARE(f.Timer4->interval(), 0);
    QVERIFY(f.Timer4->enabled());

    // One character: rejected after the timers were enabled; the upload stage is off.
    t.h.platform.messages.clear();
    f.Text8->setText("5");
    f.Label13->setText("x");
    f.Command4->click();
    QCOMPARE(t.h.platform.messages, QStringList{"分、秒は２桁で設定して下さい"});
    QVERIFY(f.Label13->text().isEmpty());
    QVERIFY(!f.Timer4->enabled());

    // Empty passes the range check (value 0) and fails the length check.
    t.h.platform.messages.clear();
    f.Text8->setText("30");
    f.Text6->clear();
    f.Command4->click();
    QCOMPARE(t.h.platform.messages, QStringList{"分、秒は２桁で設定して下さい"});

    // Two letters pass both checks: armed, but no stage ever finds its time.
    t.h.platform.messages.clear();
    f.Text6->setText("ab");
    f.Command4->click();
    QVERIFY(t.h.platform.messages.isEmpty());
    QVERIFY(f.Timer4->running());
}

void TestHourly::whatStartsAndStopsTheStages()
{
    Hourly t;
    QVERIFY(t.start());
    FTPformTestAccess& f = t.f();
    const auto count = [&t](const char* command) { return countOf(t.h.server.commands(), command); };

    t.h.folder.writeFile("12.jpg", t.ten);
    t.h.folder.writeFile("13.jpg", t.ten);

    // A one-digit second is refused before anything is armed: the 10:30 cycle never
    // comes.
    f.Text6->setText("5");
    f.Command4->click();
    QCOMPARE(t.h.platform.messages, QStringList{"分、秒は２桁で設定して下さい"});
    f.Text6->setText("20");
    stepClockTo(t.h, 10, 30, 35);
    QCOMPARE(count("USER user"), 0);

    // Armed: the 11:30 cycle connects, uploads twice and disconnects.
    f.Command4->click();
    stepClockTo(t.h, 11, 30, 35);
    QCOMPARE(count("USER user"), 1);
    QCOMPARE(t.h.server.uploadsOf("11.jpg"), 2);
    QCOMPARE(count("QUIT"), 1);

    // Refused after arming: the uploads stop, the connect and disconnect go on.
    f.Text6->setText("5");
    f.Command4->click();
    f.Text6->setText("20");
    stepClockTo(t.h, 12, 30, 35);
    QCOMPARE(count("USER user"), 2);
    QCOMPARE(count("QUIT"), 2);
    QCOMPARE(t.h.server.uploadsOf("12.jpg"), 0);

    // Armed again, then the operator's Disconnect: that stops the uploads too.
    f.Command4->click();
    f.click(f.cmdConnect);
    f.click(f.cmdDisconnect);
    QVERIFY(f.Label13->text().isEmpty());
    stepClockTo(t.h, 13, 30, 35);
    QCOMPARE(count("USER user"), 4);
    QCOMPARE(t.h.server.uploadsOf("13.jpg"), 0);

    // Stopping what was never armed arms nothing.
    Hourly inert;
    QVERIFY(inert.start());
    inert.f().Command6->click();
    stepClockTo(inert.h, 10, 30, 35);
    QCOMPARE(countOf(inert.h.server.commands(), "USER user"), 0);
}

void TestHourly::refresherFollowsTheHour()
{
    Hourly t;
    t.h.platform.setTime(9, 59, 58);
    QVERIFY(t.start());
    FTPformTestAccess& f = t.f();
    f.Command4->click();
    QCOMPARE(f.sendFile(), QString("09.jpg"));
    stepClockTo(t.h, 9, 59, 59, 500);
    QCOMPARE(f.Text5->text(), t.h.folder.path() + "/09.jpg");
    stepClockTo(t.h, 10, 0, 1);
    QCOMPARE(f.Text5->text(), t.h.folder.path() + "/10.jpg");
    QCOMPARE(f.sendFile(), QString("10.jpg"));
    // Typing into the upper box while armed: overwritten within one tick.
    f.Text5->setText("typed");
    stepClockTo(t.h, 10, 0, 1, 500);
    QCOMPARE(f.Text5->text(), t.h.folder.path() + "/10.jpg");
    // Past midnight the file is 00.jpg.
    t.h.platform.setTime(23, 59, 59);
    stepClockTo(t.h, 0, 0, 1);
    QCOMPARE(f.sendFile(), QString("00.jpg"));
}

void TestHourly::secondFiveNeverConnects()
{
    Hourly t("30", "05");
    QVERIFY(t.start());
    t.f().Command4->click();
    stepClockTo(t.h, 10, 30, 20);
    QCOMPARE(countOf(t.h.server.commands(), "USER user"), 0);
    // Each upload tick of that second: the folder change fails (no session), then
    // the upload fails without a server reply, so only the first message shows.
    QCOMPARE(t.h.platform.messages, QStringList({"転送先が間違ってます", "転送先が間違ってます"}));
    QVERIFY(t.onServer("pub/10.jpg").isEmpty());
}

void TestHourly::secondFiftyFiveNeverDisconnects()
{
    Hourly t("30", "55");
    QVERIFY(t.start());
    t.f().Command4->click();
    stepClockTo(t.h, 10, 31, 10);
    QVERIFY(t.f().connected());
    QCOMPARE(t.onServer("pub/10.jpg"), t.ten);
    // The next hour's connect finds the session open and reuses it.
    stepClockTo(t.h, 11, 31, 10);
    QVERIFY(t.f().connected());
    QCOMPARE(countOf(t.h.server.commands(), "USER user"), 1);
    QCOMPARE(t.onServer("pub/11.jpg"), t.eleven);
    QVERIFY(t.h.platform.messages.isEmpty());
}

void TestHourly::operatorAlreadyConnected()
{
    Hourly t;
    QVERIFY(t.start());
    FTPformTestAccess& f = t.f();
    f.click(f.cmdConnect);
    const HINTERNET session = f.hFtp();
    f.Command4->click();
    stepClockTo(t.h, 10, 30, 25);
    QCOMPARE(f.hFtp(), session);
    QCOMPARE(countOf(t.h.server.commands(), "USER user"), 1);
    QCOMPARE(t.onServer("pub/10.jpg"), t.ten);
    // The disconnect stage closes the operator's session too.
    stepClockTo(t.h, 10, 30, 31);
    QVERIFY(!f.connected());
    QCOMPARE(f.hFtp(), 0);
}

void TestHourly::destinationIsTheServerRoot()
{
    Hourly t;
    QVERIFY(t.start());
    t.f().text4->setText(t.h.serverName());
    t.f().Command4->click();
    stepClockTo(t.h, 10, 30, 21);
    QCOMPARE(t.onServer("10.jpg"), t.ten);
    QVERIFY(t.h.server.commands().contains("CWD /"));
    QVERIFY(t.h.platform.messages.isEmpty());
}

void TestHourly::boxesEditedAfterArming()
{
    // Minute 05 typed as 5 after arming: connect and upload compare texts and never
    // act; the disconnect stage compares numbers and still closes at minute 5.
    Hourly t("05", "20");
    t.h.platform.setTime(10, 4, 0);
    QVERIFY(t.start());
    FTPformTestAccess& f = t.f();
    f.Command4->click();
    f.Text8->setText("5");
    f.click(f.cmdConnect);
    stepClockTo(t.h, 10, 5, 29, 500);
    QCOMPARE(countOf(t.h.server.commands(), "USER user"), 1);
    QVERIFY(t.onServer("pub/10.jpg").isEmpty());
    QVERIFY(f.connected());
    stepClockTo(t.h, 10, 5, 31);
    QVERIFY(!f.connected());

    // The second emptied: the disconnect stage faults quietly, nothing else happens.
    f.Text8->setText("05");
    f.Text6->clear();
    f.click(f.cmdConnect);
    t.h.platform.setTime(11, 4, 50);
    stepClockTo(t.h, 11, 6, 0);
    QVERIFY(f.connected());
    QVERIFY(t.onServer("pub/11.jpg").isEmpty());
    QVERIFY(t.h.platform.messages.isEmpty());
}

void TestHourly::stopKeepsConnectingWithoutUploads()
{
    Hourly t;
    QVERIFY(t.start());
    FTPformTestAccess& f = t.f();
    f.Command4->click();
    f.Command6->click();
    QVERIFY(f.Label13->text().isEmpty());
    stepClockTo(t.h, 10, 30, 15);
    QVERIFY(f.connected());
    stepClockTo(t.h, 10, 30, 35);
    QVERIFY(!f.connected());
    QCOMPARE(t.h.server.uploadsOf("10.jpg"), 0);
    QVERIFY(f.Label13->text().isEmpty());
}

void TestHourly::emptyServerBox()
{
    Hourly t;
    QVERIFY(t.start());
    FTPformTestAccess& f = t.f();
    f.Command4->click();
    f.text1->clear();
    f.text4->setText("/pub");
    stepClockTo(t.h, 10, 30, 11);
    QCOMPARE(t.h.platform.messages, QStringList({"サ－バ－名を入れてください！", "サ－バ－名を入れてください！"}));
    QCOMPARE(countOf(t.h.server.commands(), "USER user"), 0);
}

void TestHourly::faultyHoursDoNotStopTheNext()
{
    Hourly t;
    QVERIFY(t.start());
    FTPformTestAccess& f = t.f();
    f.Command4->click();

    // 10:30 the destination folder is refused: the folder change reports it, the
    // upload goes into the current folder as it always did.
    f.text4->setText(t.h.serverName() + "/nowhere");
    stepClockTo(t.h, 10, 30, 35);
    QCOMPARE(t.h.platform.messages.value(0), QString("転送先が間違ってます"));
    QVERIFY(!f.connected());

    // 11:30 the hour's file is missing: the upload fails with no server reply to show.
    t.h.platform.messages.clear();
    f.text4->setText(t.h.serverName() + "/pub");
    t.h.folder.removeFile("11.jpg");
    stepClockTo(t.h, 11, 30, 35);
    QVERIFY(t.h.platform.messages.isEmpty());
    QCOMPARE(t.h.server.uploadsOf("11.jpg"), 0);

    // 12:30 all is well again.
    t.h.folder.writeFile("12.jpg", t.ten);
    stepClockTo(t.h, 12, 30, 35);
    QCOMPARE(t.onServer("pub/12.jpg"), t.ten);
    QVERIFY(t.h.platform.messages.isEmpty());
    QCOMPARE(openInternetHandleCount(), 1); // only the Internet handle is left open
}

// The server away for two hours: one message after the first lost hour, one when an hour
// lands again, and the record tells the story.
void TestHourly::theOwnerHearsOfLostHoursOnceAndOfTheirEnd()
{
    SKYLARK_SKIP_UNLESS_AVAILABLE(MessageTestServer);
    MessageTestServer web(MessageTestServer::Web);
    QVERIFY(web.start());
    Hourly t;
    t.h.folder.writeFile("12.jpg", t.ten);
    t.h.folder.writeFile(
        "alert.txt",
        QStringLiteral("# to the owner's phone\nurl=http://127.0.0.1:%1/camera\n").arg(web.port()).toUtf8());
    QVERIFY(t.start());
    t.f().Command4->click();
    t.h.server.stop();
    stepClockTo(t.h, 11, 29, 0);
    QTRY_COMPARE(web.received().size(), 1);
    QVERIFY2(web.received()[0].contains("10.jpg"), web.received()[0].constData());
    stepClockTo(t.h, 12, 29, 0);
    QVERIFY(t.h.server.start());
    stepClockTo(t.h, 12, 30, 35);
    QTRY_COMPARE(web.received().size(), 2);
    QVERIFY2(QString::fromUtf8(web.received()[1]).contains("12.jpg が届きました") &&
                 QString::fromUtf8(web.received()[1]).contains("2 時間分"),
             web.received()[1].constData());
    const QList<QByteArray> record = readFile(t.h.folder.filePath("uploads.csv")).split('\n');
    QCOMPARE(record.size(), 5);
    QCOMPARE(record[0], QByteArray("date,time,file,result,tries,bytes,reason\r"));
    QVERIFY2(record[1].startsWith("2026-12-07,10:30:20,10.jpg,not-sent,15,70000,InternetConnect "
                                  "ERROR_INTERNET_CANNOT_CONNECT"),
             record[1].constData());
    QVERIFY2(record[2].startsWith("2026-12-07,11:30:20,11.jpg,not-sent,15,50000,"), record[2].constData());
    QCOMPARE(record[3], QByteArray("2026-12-07,12:30:20,12.jpg,landed,0,70000,\r"));
}

QTEST_MAIN(TestHourly)
#include "test_hourly.moc"
