// The window and a slow server (every reply late, uploads read slowly): the window keeps
// turning while a call runs, clicks made meanwhile are served after it in the order
// made, the hourly stages keep the order of a blocked window, and closing, End and the
// program end never wait for the server.
#include "core/base/eventLog.h"

#include "formharness.h"
#include "testfiles.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

// How long the window's event loop went without turning, at most, while it watched.
class LoopProbe {
public:
    LoopProbe()
    {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            m_longest = std::max(m_longest, m_since.restart());
            ++m_turns;
        });
        m_since.start();
        m_timer.start();
    }
    qint64 longestGapMs() const { return m_longest; }
    int turns() const { return m_turns; }

private:
    QTimer m_timer;
    QElapsedTimer m_since;
    qint64 m_longest = 0;
    int m_turns = 0;
};

// Clicks a node of the tree as the operator would, without waiting for what it starts.
void clickNode(FormHarness& h, const QString& key)
{
    KeyedTree* tree = h.f().TreeView1;
    QTreeWidgetItem* node = tree->node(key);
    QVERIFY(node);
    tree->scrollToItem(node);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(node).center());
}

// The stage timers tick every half second whatever the server does.
void tickStages(FormHarness& h)
{
    h.platform.advance(0.5);
    FTPformTestAccess& f = h.f();
    for (FormTimer* t : {f.Timer7, f.Timer5, f.Timer4, f.Timer6})
        emit t->timeout();
}

qsizetype indexOf(const QStringList& commands, const QString& command)
{
    return commands.indexOf(command);
}

} // namespace

class TestSlowServer : public QObject {
    Q_OBJECT
private slots:
    void cleanup()
    {
        eventlog::close();
        eventlog::clearSecrets();
    }
    void theWindowTurnsWhileACallRuns();
    void clicksMeanwhileAreServedAfterItInOrder();
    void hourlyStagesKeepTheOrderOfABlockedWindow();
    void theHourDueIsSentWhenTheHourRollsDuringTheUpload();
    void endingDuringATransferTakesASecondAtMost_data();
    void endingDuringATransferTakesASecondAtMost();
};

void TestSlowServer::theWindowTurnsWhileACallRuns()
{
    FtpTestServerOptions slow;
    slow.delaySeconds = 0.3;  // a connect of four replies takes over a second
    slow.uploadRate = 200000; // the upload below takes three
    FormHarness h(slow);
    h.server.makeDir("pub");
    h.folder.writeFile("10.jpg", randomBytes(600000));
    QVERIFY(h.start());
    FTPformTestAccess& f = h.f();
    f.Text5->setText(h.folder.filePath("10.jpg"));

    LoopProbe probe;
    QTest::mouseClick(f.cmdConnect, Qt::LeftButton);
    QVERIFY(f.session().busy());
    QCOMPARE(h.form->cursor().shape(), Qt::BusyCursor);
    // The controls keep their states: not yet connected.
    QVERIFY(f.cmdConnect->isEnabled() && !f.cmdDisconnect->isEnabled());
    f.settle();
    QVERIFY(f.connected());
    QCOMPARE(h.form->cursor().shape(), Qt::ArrowCursor);

    QTest::mouseClick(f.Command5, Qt::LeftButton);
    QCOMPARE(h.form->cursor().shape(), Qt::BusyCursor);
    f.settle();
    QCOMPARE(h.platform.messages, QStringList{"転送しました"});
    // Over four seconds of calls, and the loop turned all along.
    QVERIFY(probe.turns() > 100);
    QVERIFY2(probe.longestGapMs() < 300, qPrintable(QString::number(probe.longestGapMs())));
}

void TestSlowServer::clicksMeanwhileAreServedAfterItInOrder()
{
    FtpTestServerOptions slow;
    slow.delaySeconds = 0.2;
    FormHarness h(slow);
    h.server.writeFile("pub/one.jpg", "1");
    h.server.writeFile("cam/two.jpg", "2");
    h.folder.writeFile("10.jpg", randomBytes(5000));
    QVERIFY(h.start());
    FTPformTestAccess& f = h.f();
    f.Text5->setText(h.folder.filePath("10.jpg"));
    f.click(f.cmdConnect);
    const QString server = h.serverName();
    h.server.clearCommands();

    // A folder opens (a slow listing); meanwhile another folder, the manual transfer
    // and Disconnect are clicked.
    clickNode(h, server + "/pub");
    QVERIFY(f.session().busy());
    clickNode(h, server + "/cam");
    QTest::mouseClick(f.Command5, Qt::LeftButton);
    QTest::mouseClick(f.cmdDisconnect, Qt::LeftButton);
    QCOMPARE(h.form->cursor().shape(), Qt::BusyCursor);
    f.settle();

    // Each once, in the order clicked, as a blocked window would have served them.
    const QStringList sent = h.server.commands();
    const qsizetype pub = indexOf(sent, "CWD /pub"), cam = indexOf(sent, "CWD /cam"),
                    stored = indexOf(sent, "STOR 10.jpg.part"), quit = indexOf(sent, "QUIT");
    QVERIFY2(pub >= 0 && pub < cam && cam < stored && stored < quit, qPrintable(sent.join(" | ")));
    QCOMPARE(sent.count("CWD /cam"), 1);
    QCOMPARE(h.server.commandsStartingWith("STOR"), 1);
    QCOMPARE(h.platform.messages, QStringList{"転送しました"});
    QVERIFY(!f.connected());
    QCOMPARE(f.TreeView1->count(), 0);
    QCOMPARE(h.form->cursor().shape(), Qt::ArrowCursor);
}

void TestSlowServer::hourlyStagesKeepTheOrderOfABlockedWindow()
{
    QTemporaryDir logs;
    FtpTestServerOptions slow;
    slow.delaySeconds = 0.2;
    slow.uploadRate = 150000;
    FormHarness h(slow);
    FtpTestServer& server = h.server;
    server.makeDir("pub");
    h.folder.writeFile("10.jpg", randomBytes(450000)); // three seconds on the way
    QVERIFY(eventlog::open(logs.path()));
    h.platform.setTime(10, 30, 9, 500);
    QVERIFY(h.start());
    FTPformTestAccess& f = h.f();
    emit f.Timer3->timeout();
    f.Command4->click();

    const auto tick = [&] { tickStages(h); };
    // 10:30:10: the connect; its second tick comes while the login runs and adds none.
    tick();
    QVERIFY(f.session().busy());
    tick();
    f.settle();
    QVERIFY(f.connected());
    QCOMPARE(server.commandsStartingWith("USER"), 1);

    // 10:30:20: the upload; the rest of its second and the disconnect's (10:30:30)
    // come while it is under way. No second upload, and the disconnect right after.
    while (h.platform.timeOfDay() < QTime(10, 30, 19, 500)) {
        tick();
        f.settle();
    }
    tick();
    QVERIFY(f.session().busy());
    while (h.platform.timeOfDay() < QTime(10, 30, 31))
        tick();
    QVERIFY(f.connected());
    f.settle();
    QVERIFY(!f.connected());
    QCOMPARE(server.storesOf("10.jpg"), 1);
    const QStringList sent = server.commands();
    QVERIFY2(indexOf(sent, "RNTO /pub/10.jpg") >= 0 && indexOf(sent, "RNTO /pub/10.jpg") < indexOf(sent, "QUIT"),
             qPrintable(sent.join(" | ")));
    eventlog::close();
    QVERIFY(readFile(logs.filePath("skylark.log")).contains("hourly: the disconnect runs "));
}

void TestSlowServer::theHourDueIsSentWhenTheHourRollsDuringTheUpload()
{
    // The upload second late in the hour, and a server slow to take the folder change:
    // the refresher rolls the boxes on to 11.jpg before the upload itself begins.
    FtpTestServerOptions slow;
    slow.delaySeconds = 0.3;
    FormHarness h(slow);
    h.server.makeDir("pub");
    const QByteArray ten = randomBytes(3000);
    h.folder.writeFile("10.jpg", ten);
    h.folder.writeFile("11.jpg", randomBytes(3000));
    h.platform.setTime(10, 59, 44, 500);
    QVERIFY(h.start());
    FTPformTestAccess& f = h.f();
    f.Text8->setText("59");
    f.Text6->setText("55");
    emit f.Timer3->timeout();
    f.Command4->click();
    const auto tick = [&] { tickStages(h); };
    while (h.platform.timeOfDay() < QTime(10, 59, 54, 500)) {
        tick();
        f.settle();
    }
    QVERIFY(f.connected());
    tick(); // 10:59:55: the upload stage, its folder change under way
    QVERIFY(f.session().busy());
    while (h.platform.timeOfDay() < QTime(11, 0, 1))
        tick();
    QVERIFY(f.Text5->text().endsWith("11.jpg"));
    f.settle();
    QCOMPARE(h.server.storesOf("11.jpg"), 0);
    QCOMPARE(h.server.uploadsOf("10.jpg"), 1);
    QCOMPARE(readFile(h.server.path("pub/10.jpg")), ten);
}

void TestSlowServer::endingDuringATransferTakesASecondAtMost_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("window closed") << "the window was closed";
    QTest::newRow("End") << "the End button";
    QTest::newRow("program end") << "the program end";
}

// An upload that would take ten seconds: whichever way the program ends, it ends within
// a second, the image's final name keeps yesterday's file, and the log says what was
// cut short.
void TestSlowServer::endingDuringATransferTakesASecondAtMost()
{
    QFETCH(QString, how);
    QTemporaryDir logs;
    FtpTestServerOptions slow;
    slow.uploadRate = 100000;
    FormHarness h(slow);
    const QByteArray yesterday = randomBytes(30000);
    h.server.writeFile("pub/10.jpg", yesterday);
    h.folder.writeFile("10.jpg", randomBytes(1000000));
    QVERIFY(eventlog::open(logs.path()));
    h.platform.setTime(10, 0, 0);
    QVERIFY(h.start());
    FTPformTestAccess& f = h.f();
    f.Text5->setText(h.folder.filePath("10.jpg"));
    f.click(f.cmdConnect);
    emit f.Timer3->timeout();
    f.Text11->setText("10");
    f.Text10->setText("00");
    f.Text9->setText("05");
    f.Command3->click();

    QTest::mouseClick(f.Command5, Qt::LeftButton);
    QTRY_VERIFY(h.server.commands().contains("STOR 10.jpg.part"));
    QTest::qWait(300);
    QElapsedTimer took;
    took.start();
    if (how == "the window was closed")
        h.form->close();
    else if (how == "the End button")
        QTest::mouseClick(f.Command2, Qt::LeftButton);
    else
        h.platform.advance(5);
    QVERIFY2(took.elapsed() < 1000, qPrintable(QString::number(took.elapsed())));
    QVERIFY(f.session().ended());
    QCOMPARE(h.platform.endCalls, how == "the window was closed" ? 0 : 1);

    QCOMPARE(readFile(h.server.path("pub/10.jpg")), yesterday);
    const qsizetype before = h.server.commands().size();
    QTest::qWait(500); // no call after the end
    QCOMPARE(h.server.commands().size(), before);
    QVERIFY(!h.server.commands().filter("RNFR").size());
    eventlog::close();
    const QByteArray log = readFile(logs.filePath("skylark.log"));
    QVERIFY2(log.contains(("session: ended (" + how + "); cut short: FtpPutFile 10.jpg").toUtf8()), log.constData());
}

QTEST_MAIN(TestSlowServer)
#include "test_slowserver.moc"
