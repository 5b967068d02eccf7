// The desktop platform: message boxes that hold nothing up and do not pile up, a
// deadline that sleeps instead of spinning, and an end asked for from outside.
#include "window/app/platform.h"
#include "window/scheduler/formTimer.h"

#include "formaccess.h"
#include "ftptestserver.h"
#include "headlessplatform.h"
#include "programfolder.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <sys/prctl.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>

namespace {
double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

QMessageBox* openBox()
{
    return qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
}

qsizetype countOpenBoxes()
{
    qsizetype n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        n += qobject_cast<QMessageBox*>(w) && w->isVisible() ? 1 : 0;
    return n;
}
} // namespace

class TestPlatform : public QObject {
    Q_OBJECT
private slots:
    void aBoxHoldsNothingAndOpensOncePerText();
    void boxesWithEverNewTextsStopAtABound();
    void callAtComesOnTimeAndNotWithoutItsContext();
    void formTimerRules();
    void anEndRequestLeavesEveryBox();
    void aQuestionIsAnsweredOrLeftWithNo();
    void theMemoryIsKeptPrivate(); // last: the test process stays so
};

// A box opens and the caller goes on at once: nothing waits in it, and a text already
// open is not opened twice. OK or the program closes it.
void TestPlatform::aBoxHoldsNothingAndOpensOncePerText()
{
    DesktopPlatform platform;
    QElapsedTimer t;
    t.start();
    const MessageId first = platform.showMessage("設定が間違っているようです");
    QVERIFY(t.elapsed() < 1000);
    QMessageBox* box = openBox();
    QVERIFY(box && first != 0);
    QCOMPARE(box->windowTitle(), QString("Skylark"));
    QCOMPARE(box->text(), QString("設定が間違っているようです"));
    QCOMPARE(box->icon(), QMessageBox::NoIcon);
    QCOMPARE(box->buttons().size(), 1);
    QCOMPARE(box->windowModality(), Qt::ApplicationModal);
    // A lasting fault reports on every tick: the box already open answers for it.
    QCOMPARE(platform.showMessage("設定が間違っているようです"), first);
    const MessageId other = platform.showMessage("転送しました");
    QVERIFY(other != first);
    QTRY_COMPARE(countOpenBoxes(), 2);

    platform.closeMessage(first);
    QTRY_COMPARE(countOpenBoxes(), 1);
    QCOMPARE(openBox()->text(), QString("転送しました"));
    openBox()->accept(); // the operator's OK
    QTRY_COMPARE(countOpenBoxes(), 0);
    // Once closed, the same text opens again.
    QVERIFY(platform.showMessage("設定が間違っているようです") > other);
    QTRY_COMPARE(countOpenBoxes(), 1);
}

// Nobody presses OK and every hour's text differs: the boxes stop at a bound, and a new
// text opens again once they are closed.
void TestPlatform::boxesWithEverNewTextsStopAtABound()
{
    DesktopPlatform platform;
    for (int hour = 0; hour < 40; ++hour)
        platform.showMessage(QStringLiteral("InternetConnect Extd Err: 421 session %1").arg(hour));
    QTRY_COMPARE(countOpenBoxes(), 16);
    QCOMPARE(platform.showMessage(QStringLiteral("転送しました")), MessageId{0});
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
            box->accept();
    QTRY_COMPARE(countOpenBoxes(), 0);
    QVERIFY(platform.showMessage(QStringLiteral("転送しました")) != 0);
}

void TestPlatform::callAtComesOnTimeAndNotWithoutItsContext()
{
    DesktopPlatform platform;
    QElapsedTimer clock;
    const double cpuBefore = cpuSeconds();
    clock.start();
    QObject context;
    qint64 cameAfter = -1;
    platform.callAt(platform.monotonicSeconds() + 0.5, &context, [&] { cameAfter = clock.elapsed(); });
    // A context that goes first takes its call with it.
    auto* gone = new QObject;
    bool wrongly = false;
    platform.callAt(platform.monotonicSeconds() + 0.1, gone, [&] { wrongly = true; });
    delete gone;
    QTRY_VERIFY_WITH_TIMEOUT(cameAfter >= 0, 5000);
    QVERIFY2(cameAfter >= 500 && cameAfter < 800, qPrintable(QString::number(cameAfter)));
    QVERIFY(!wrongly);
    // Sleeping, not spinning.
    QVERIFY(cpuSeconds() - cpuBefore < 0.2);

    // The monotonic clock moves on and never back.
    const double a = platform.monotonicSeconds();
    QTest::qWait(20);
    QVERIFY(platform.monotonicSeconds() > a);
}

void TestPlatform::formTimerRules()
{
    FormTimer timer;
    int ticks = 0;
    QObject::connect(&timer, &FormTimer::timeout, [&] { ++ticks; });
    // Enabled with interval 0: never ticks.
    QVERIFY(timer.enabled());
    QTest::qWait(50);
    QCOMPARE(ticks, 0);
    timer.setInterval(10);
    QTRY_VERIFY(ticks > 2);
    timer.setEnabled(false);
    const int stopped = ticks;
    QTest::qWait(50);
    QCOMPARE(ticks, stopped);
    // The interval survives being disabled; enabling again resumes.
    QCOMPARE(timer.interval(), 10);
    timer.setEnabled(true);
    QTRY_VERIFY(ticks > stopped);
}

// SIGTERM from a service manager, with nobody to press OK: it ends within a second,
// boxes and all. First the box waited for before any event loop runs, as the start-up's
// last word is; then one opened by a failed Connect inside the running window.
void TestPlatform::anEndRequestLeavesEveryBox()
{
    QElapsedTimer sinceSignal;
    // Raises the signal once a box is up, and notes when.
    QTimer raiser;
    QObject::connect(&raiser, &QTimer::timeout, [&] {
        if (!openBox() || sinceSignal.isValid())
            return;
        sinceSignal.start();
        std::raise(SIGTERM);
    });
    raiser.start(20);
    {
        QObject context;
        DesktopPlatform platform;
        QString closedOn;
        platform.endOnRequest(&context, [&](const QString& signal, bool) { closedOn = signal; });
        platform.showMessageAndWait(QStringLiteral("足りないファイルがあるようです"));
        QVERIFY(sinceSignal.isValid() && sinceSignal.elapsed() < 1000);
        QCOMPARE(closedOn, QString("SIGTERM"));
        QVERIFY(platform.endRequested());
        // Nothing opens any more.
        QCOMPARE(platform.showMessage(QStringLiteral("転送しました")), MessageId{0});
        QVERIFY(!openBox());
    }

    FtpTestServerOptions refusing;
    refusing.refuseLogin = true;
    FtpTestServer server(refusing);
    QVERIFY(server.start());
    ProgramFolder folder;
    QObject context;
    HeadlessPlatform platform;
    platform.folder = folder.path();
    FTPform form(platform);
    FTPformTestAccess f(form);
    platform.desktop.endOnRequest(&context, [&](const QString&, bool) { form.close(); });
    QVERIFY(form.Form_Load());
    form.show();
    f.text1->setText(QString::fromLatin1(server.address()));
    f.text2->setText("user");
    f.text3->setText("secret");
    sinceSignal.invalidate();
    f.cmdConnect->click();
    QTRY_VERIFY_WITH_TIMEOUT(sinceSignal.isValid() && !form.isVisible() && !openBox(), 10000);
    QVERIFY2(sinceSignal.elapsed() < 1000, qPrintable(QString::number(sinceSignal.elapsed())));
    QVERIFY(f.text1->text().isEmpty()); // the window's unload ran
}

// The operator's question: はい and いいえ, the default as asked, true only for はい; an
// end request closes it like any box, and that is no answer, so いいえ.
void TestPlatform::aQuestionIsAnsweredOrLeftWithNo()
{
    DesktopPlatform platform;
    QStringList buttons;
    QString defaultButton;
    int lines = 0;
    QTimer::singleShot(50, [&] {
        QMessageBox* box = openBox();
        QVERIFY(box);
        for (QAbstractButton* button : box->buttons())
            buttons << button->text();
        defaultButton = box->defaultButton()->text();
        // Two lines, however long the second: three or more would be one wrapped.
        for (const QLabel* label : box->findChildren<QLabel*>())
            if (label->text() == box->text())
                lines = label->height() / label->fontMetrics().lineSpacing();
        // Y answers it, as in the system's own boxes.
        QTest::keyClick(box, Qt::Key_Y);
    });
    // "9E:61:…": a plain label may break a line after a colon that a digit follows.
    const QString fingerprint = QByteArray::fromHex("9E61").repeated(16).toHex(':').toUpper();
    QVERIFY(platform.askYesNo(QStringLiteral("この鍵を記録して接続しますか？\n") + fingerprint, false));
    buttons.sort();
    QCOMPARE(buttons, (QStringList{QStringLiteral("いいえ(&N)"), QStringLiteral("はい(&Y)")}));
    QCOMPARE(defaultButton, QStringLiteral("いいえ(&N)"));
    QCOMPARE(lines, 2); // the fingerprint stays on its line

    QObject context;
    platform.endOnRequest(&context, [](const QString&, bool) {});
    QElapsedTimer sinceSignal;
    QTimer::singleShot(50, [&] {
        sinceSignal.start();
        std::raise(SIGTERM);
    });
    QVERIFY(!platform.askYesNo(QStringLiteral("この証明書をこのサーバー用に信頼して接続しますか？"), true));
    QVERIFY(sinceSignal.isValid() && sinceSignal.elapsed() < 1000);
    QVERIFY(!platform.askYesNo(QStringLiteral("この証明書をこのサーバー用に信頼して接続しますか？"), true));
}

void TestPlatform::theMemoryIsKeptPrivate()
{
    // No other process of the user may read the password out of it, nor a core dump.
    QVERIFY(DesktopPlatform::keepMemoryPrivate());
    QCOMPARE(prctl(PR_GET_DUMPABLE, 0, 0, 0, 0), 0);
}

QTEST_MAIN(TestPlatform)
#include "test_platform.moc"
