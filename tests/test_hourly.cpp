// The hourly upload: arming, the refresher, and the connect, upload and disconnect
// stages, driven by a stepped clock against a real FTP server.
#include "formharness.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTest>

namespace {

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(QRandomGenerator::global()->bounded(256));
    return bytes;
}

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
        emit h.form->Timer3->timeout(); // the clock label as the first second shows it
        return true;
    }
    FTPform& f() { return *h.form; }
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
    void timerStates();
    void refresherFollowsTheHour();
    void secondFiveNeverConnects();
    void secondFiftyFiveNeverDisconnects();
    void operatorAlreadyConnected();
    void destinationIsTheServerRoot();
    void boxesEditedAfterArming();
    void stopKeepsConnectingWithoutUploads();
    void emptyServerBox();
    void faultyHoursDoNotStopTheNext();
};

void TestHourly::fullTimeline()
{
    Hourly t;
    QVERIFY(t.start());
    FTPform& f = t.f();
    const QString server = t.h.serverName();
    QTest::mouseClick(f.Command4, Qt::LeftButton);
    QCOMPARE(f.Text5->text(), t.h.folder.path() + "/10.jpg");
    QCOMPARE(f.sSendFile, QString("10.jpg"));

    StepClockTo(t.h, 10, 30, 9, 500);
    QVERIFY(!f.bConnected);
    QCOMPARE(countOf(t.h.server.commands(), "USER user"), 0);
    QCOMPARE(f.Label13->text(), QString("転送タイマ－作動中（１時間に１度転送してます）"));

    StepClockTo(t.h, 10, 30, 10);
    QVERIFY(f.bConnected);
    QVERIFY(f.TreeView1->contains(server + "/pub"));
    QVERIFY(!f.cmdConnect->isEnabled());

    StepClockTo(t.h, 10, 30, 20, 500);
    QCOMPARE(countOf(t.h.server.commands(), "STOR 10.jpg"), 2);
    QCOMPARE(t.onServer("pub/10.jpg"), t.ten);

    StepClockTo(t.h, 10, 30, 29, 500);
    QVERIFY(f.bConnected);
    StepClockTo(t.h, 10, 30, 30, 500);
    QVERIFY(!f.bConnected);
    QCOMPARE(f.hFtp, 0);
    QCOMPARE(f.TreeView1->count(), 0);
    QVERIFY(f.cmdConnect->isEnabled());
    QCOMPARE(countOf(t.h.server.commands(), "QUIT"), 1);

    // Nothing happens for the rest of the hour; then the same with 11.jpg.
    StepClockTo(t.h, 11, 30, 9, 500);
    QCOMPARE(countOf(t.h.server.commands(), "USER user"), 1);
    QCOMPARE(f.sSendFile, QString("11.jpg"));
    StepClockTo(t.h, 11, 30, 35);
    QCOMPARE(countOf(t.h.server.commands(), "USER user"), 2);
    QCOMPARE(countOf(t.h.server.commands(), "STOR 11.jpg"), 2);
    QCOMPARE(t.onServer("pub/11.jpg"), t.eleven);
    QVERIFY(!f.bConnected);
    QVERIFY(t.h.platform.messages.isEmpty());
    QCOMPARE(t.h.platform.endCalls, 0);
}

void TestHourly::armingChecks()
{
    Hourly t;
    QVERIFY(t.start());
    FTPform& f = t.f();

    f.Text8->setText("60");
    f.Command4_Click();
    QCOMPARE(t.h.platform.messages, QStringList{"分、秒を設定しなおして下さい"});
    QCOMPARE(f.Timer4->interval(), 0);
    QVERIFY(f.Timer4->enabled());

    // One character: rejected after the timers were enabled; the upload stage is off.
    t.h.platform.messages.clear();
    f.Text8->setText("5");
    f.Label13->setText("x");
    f.Command4_Click();
    QCOMPARE(t.h.platform.messages, QStringList{"分、秒は２桁で設定して下さい"});
    QVERIFY(f.Label13->text().isEmpty());
    QVERIFY(!f.Timer4->enabled());

    // Empty passes the range check (value 0) and fails the length check.
    t.h.platform.messages.clear();
    f.Text8->setText("30");
    f.Text6->clear();
    f.Command4_Click();
    QCOMPARE(t.h.platform.messages, QStringList{"分、秒は２桁で設定して下さい"});

    // Two letters pass both checks: armed, but no stage ever finds its time.
    t.h.platform.messages.clear();
    f.Text6->setText("ab");
    f.Command4_Click();
    QVERIFY(t.h.platform.messages.isEmpty());
    QVERIFY(f.Timer4->running());
}

void TestHourly::timerStates()
{
    Hourly t;
    QVERIFY(t.start());
    FTPform& f = t.f();
    auto state = [&f] {
        QString s;
        for (FormTimer* timer : {f.Timer7, f.Timer5, f.Timer4, f.Timer6})
            s += !timer->enabled() ? 'D' : timer->interval() == 0 ? '0' : 'R';
        return s;
    };
    QCOMPARE(state(), QString("0000")); // inert
    f.Text6->setText("5");
    f.Command4_Click();
    QCOMPARE(state(), QString("00D0")); // rejected from inert
    f.Text6->setText("20");
    f.Command4_Click();
    QCOMPARE(state(), QString("RRRR")); // armed
    f.Command4_Click();
    QCOMPARE(state(), QString("RRRR")); // armed twice: the same
    f.Text6->setText("5");
    f.Command4_Click();
    QCOMPARE(state(), QString("RRDR")); // rejected after arming
    f.Text6->setText("20");
    f.Command4_Click();
    f.Command6_Click();
    QCOMPARE(state(), QString("DRDR")); // stopped
    f.Command4_Click();
    f.cmdDisconnect_Click();
    QCOMPARE(state(), QString("RRDR")); // upload stopped by Disconnect

    Hourly inert;
    QVERIFY(inert.start());
    inert.f().Command6_Click();
    QVERIFY(!inert.f().Timer5->running() && !inert.f().Timer6->running());
}

void TestHourly::refresherFollowsTheHour()
{
    Hourly t;
    t.h.platform.setTime(9, 59, 58);
    QVERIFY(t.start());
    FTPform& f = t.f();
    f.Command4_Click();
    QCOMPARE(f.sSendFile, QString("09.jpg"));
    StepClockTo(t.h, 9, 59, 59, 500);
    QCOMPARE(f.Text5->text(), t.h.folder.path() + "/09.jpg");
    StepClockTo(t.h, 10, 0, 1);
    QCOMPARE(f.Text5->text(), t.h.folder.path() + "/10.jpg");
    QCOMPARE(f.sSendFile, QString("10.jpg"));
    // Typing into the upper box while armed: overwritten within one tick.
    f.Text5->setText("typed");
    StepClockTo(t.h, 10, 0, 1, 500);
    QCOMPARE(f.Text5->text(), t.h.folder.path() + "/10.jpg");
    // Past midnight the file is 00.jpg.
    t.h.platform.setTime(23, 59, 59);
    StepClockTo(t.h, 0, 0, 1);
    QCOMPARE(f.sSendFile, QString("00.jpg"));
}

void TestHourly::secondFiveNeverConnects()
{
    Hourly t("30", "05");
    QVERIFY(t.start());
    t.f().Command4_Click();
    StepClockTo(t.h, 10, 30, 20);
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
    t.f().Command4_Click();
    StepClockTo(t.h, 10, 31, 10);
    QVERIFY(t.f().bConnected);
    QCOMPARE(t.onServer("pub/10.jpg"), t.ten);
    // The next hour's connect finds the session open and reuses it.
    StepClockTo(t.h, 11, 31, 10);
    QVERIFY(t.f().bConnected);
    QCOMPARE(countOf(t.h.server.commands(), "USER user"), 1);
    QCOMPARE(t.onServer("pub/11.jpg"), t.eleven);
    QVERIFY(t.h.platform.messages.isEmpty());
}

void TestHourly::operatorAlreadyConnected()
{
    Hourly t;
    QVERIFY(t.start());
    FTPform& f = t.f();
    QTest::mouseClick(f.cmdConnect, Qt::LeftButton);
    const HINTERNET session = f.hFtp;
    f.Command4_Click();
    StepClockTo(t.h, 10, 30, 25);
    QCOMPARE(f.hFtp, session);
    QCOMPARE(countOf(t.h.server.commands(), "USER user"), 1);
    QCOMPARE(t.onServer("pub/10.jpg"), t.ten);
    // The disconnect stage closes the operator's session too.
    StepClockTo(t.h, 10, 30, 31);
    QVERIFY(!f.bConnected);
    QCOMPARE(f.hFtp, 0);
}

void TestHourly::destinationIsTheServerRoot()
{
    Hourly t;
    QVERIFY(t.start());
    t.f().text4->setText(t.h.serverName());
    t.f().Command4_Click();
    StepClockTo(t.h, 10, 30, 21);
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
    FTPform& f = t.f();
    f.Command4_Click();
    f.Text8->setText("5");
    QTest::mouseClick(f.cmdConnect, Qt::LeftButton);
    StepClockTo(t.h, 10, 5, 29, 500);
    QCOMPARE(countOf(t.h.server.commands(), "USER user"), 1);
    QVERIFY(t.onServer("pub/10.jpg").isEmpty());
    QVERIFY(f.bConnected);
    StepClockTo(t.h, 10, 5, 31);
    QVERIFY(!f.bConnected);

    // The second emptied: the disconnect stage faults quietly, nothing else happens.
    f.Text8->setText("05");
    f.Text6->clear();
    QTest::mouseClick(f.cmdConnect, Qt::LeftButton);
    t.h.platform.setTime(11, 4, 50);
    StepClockTo(t.h, 11, 6, 0);
    QVERIFY(f.bConnected);
    QVERIFY(t.onServer("pub/11.jpg").isEmpty());
    QVERIFY(t.h.platform.messages.isEmpty());
}

void TestHourly::stopKeepsConnectingWithoutUploads()
{
    Hourly t;
    QVERIFY(t.start());
    FTPform& f = t.f();
    f.Command4_Click();
    f.Command6_Click();
    QVERIFY(f.Label13->text().isEmpty());
    StepClockTo(t.h, 10, 30, 15);
    QVERIFY(f.bConnected);
    StepClockTo(t.h, 10, 30, 35);
    QVERIFY(!f.bConnected);
    QCOMPARE(countOf(t.h.server.commands(), "STOR 10.jpg"), 0);
    QVERIFY(f.Label13->text().isEmpty());
}

void TestHourly::emptyServerBox()
{
    Hourly t;
    QVERIFY(t.start());
    FTPform& f = t.f();
    f.Command4_Click();
    f.text1->clear();
    f.text4->setText("/pub");
    StepClockTo(t.h, 10, 30, 11);
    QCOMPARE(t.h.platform.messages, QStringList({"サ－バ－名を入れてください！", "サ－バ－名を入れてください！"}));
    QCOMPARE(countOf(t.h.server.commands(), "USER user"), 0);
}

void TestHourly::faultyHoursDoNotStopTheNext()
{
    Hourly t;
    QVERIFY(t.start());
    FTPform& f = t.f();
    f.Command4_Click();

    // 10:30 the destination folder is refused: the folder change reports it, the
    // upload goes into the current folder as it always did.
    f.text4->setText(t.h.serverName() + "/nowhere");
    StepClockTo(t.h, 10, 30, 35);
    QCOMPARE(t.h.platform.messages.value(0), QString("転送先が間違ってます"));
    QVERIFY(!f.bConnected);

    // 11:30 the hour's file is missing: the upload fails with no server reply to show.
    t.h.platform.messages.clear();
    f.text4->setText(t.h.serverName() + "/pub");
    t.h.folder.removeFile("11.jpg");
    StepClockTo(t.h, 11, 30, 35);
    QVERIFY(t.h.platform.messages.isEmpty());
    QCOMPARE(countOf(t.h.server.commands(), "STOR 11.jpg"), 0);

    // 12:30 all is well again.
    t.h.folder.writeFile("12.jpg", t.ten);
    StepClockTo(t.h, 12, 30, 35);
    QCOMPARE(t.onServer("pub/12.jpg"), t.ten);
    QVERIFY(t.h.platform.messages.isEmpty());
    QCOMPARE(OpenInternetHandleCount(), 1); // only the Internet handle is left open
}

QTEST_MAIN(TestHourly)
#include "test_hourly.moc"
