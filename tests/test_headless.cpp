// A day without a screen: Skylark drawn off screen, its real message boxes opened on
// failing hours and never answered, because nobody is there. Every box stays open
// (one per distinct text), and every later hour still uploads its image whole.
#include "core/base/eventLog.h"
#include "core/ftp/ftpConnection.h"
#include "core/ftp/modWinInet.h"
#include "window/app/platform.h"

#include "formaccess.h"
#include "ftptestserver.h"
#include "headlessplatform.h"
#include "programfolder.h"
#include "testfiles.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <functional>
#include <map>
#include <memory>

namespace {

QList<QMessageBox*> openBoxes()
{
    QList<QMessageBox*> boxes;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
            boxes << box;
    return boxes;
}

// What one hour came to.
struct Hour {
    bool delivered = false; // the day's server holds the image, byte for byte
    qsizetype stores = 0;   // STORs of the image at the server the hour used
    QStringList open;       // texts of the boxes still open when the hour ended
    QStringList shown;      // texts shown during the hour
};

// Plays the day: every few milliseconds the clock moves half a second and the timers
// that run tick, as posted events like the real ones, so they are delivered inside
// whatever box is waiting. Nothing here waits for a box: a box opened by a tick simply
// keeps its loop running beneath the next ticks.
class DayDriver : public QObject {
public:
    using Setup = std::function<FtpTestServer*(int hour)>; // returns the hour's server

    DayDriver(FTPformTestAccess& f, HeadlessPlatform& platform, FtpTestServer& dayServer, ProgramFolder& folder)
        : f(f), platform(platform), dayServer(dayServer), folder(folder)
    {
        connect(&m_beat, &QTimer::timeout, this, [this] { step(); });
    }

    void start(Setup setup)
    {
        m_setup = std::move(setup);
        beginHour(0);
        m_beat.start(1);
    }

    bool done = false;
    std::map<int, Hour> hours;

private:
    void post(FormTimer* timer)
    {
        if (timer->running())
            QMetaObject::invokeMethod(
                timer, [timer] { emit timer->timeout(); }, Qt::QueuedConnection);
    }

    void pointAt(const FtpTestServer& server)
    {
        const QString name = QString::fromLatin1(server.address());
        f.text1->setText(name);
        f.text4->setText(name + QStringLiteral("/pub"));
    }

    void beginHour(int hour)
    {
        m_hour = hour;
        m_shownBefore = platform.shown.size();
        pointAt(dayServer);
        dayServer.clearCommands();
        m_side.reset();
        FtpTestServer* server = m_setup ? m_setup(hour) : nullptr;
        if (server)
            pointAt(*server);
        m_used = server ? server : &dayServer;
        // Ten seconds before the connect stage; the refresher has the hour by then.
        platform.seconds = hour * 3600.0 + 29 * 60 + 58;
    }

    void endHour()
    {
        Hour& h = hours[m_hour];
        const QString remote = dayServer.path(QStringLiteral("pub/") + fileOfHour(m_hour));
        h.delivered = QFile::exists(remote) && sha256Of(remote) == sha256Of(folder.filePath(fileOfHour(m_hour)));
        h.stores = m_used->uploadsOf(fileOfHour(m_hour));
        for (const QMessageBox* box : openBoxes())
            h.open << box->text();
        h.shown = platform.shown.mid(m_shownBefore);
    }

    void step()
    {
        // The clock waits for the calls under way, as if the server answered at once;
        // it does not wait for the boxes.
        if (done || !f.idle())
            return;
        platform.seconds += 0.5;
        if (std::fmod(platform.seconds, 1.0) == 0)
            post(f.Timer3);
        for (FormTimer* t : {f.Timer7, f.Timer6, f.Timer5, f.Timer4})
            post(t);
        if (platform.seconds < m_hour * 3600.0 + 30 * 60 + 33)
            return;
        endHour();
        if (m_hour == 23) {
            done = true;
            m_beat.stop();
            // The day is over: now someone answers, and every box's loop returns.
            QTimer::singleShot(0, [] {
                for (QMessageBox* box : openBoxes())
                    box->done(0);
            });
            return;
        }
        beginHour(m_hour + 1);
    }

public:
    std::unique_ptr<FtpTestServer> m_side;

private:
    FTPformTestAccess& f;
    HeadlessPlatform& platform;
    FtpTestServer& dayServer;
    ProgramFolder& folder;
    QTimer m_beat;
    Setup m_setup;
    int m_hour = 0;
    qsizetype m_shownBefore = 0;
    FtpTestServer* m_used = nullptr;
};

qint64 frozenClock()
{
    return 1'800'000'000'000;
}

} // namespace

class TestHeadless : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        setFtpBounds({3, 3, 3});
        // The test's driver is the only source of ticks.
        FormTimer::setWallClock(frozenClock);
    }
    void cleanup()
    {
        setFtpBounds(FtpBounds{});
        FormTimer::setWallClock(nullptr);
    }
    void aDayOfBoxesNobodyAnswers();
    void anHourLandsWhileItsBoxStaysOpen();
};

void TestHeadless::aDayOfBoxesNobodyAnswers()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("offscreen"));
    FtpTestServer dayServer;
    dayServer.makeDir("pub");
    QVERIFY(dayServer.start());
    const QByteArray name = dayServer.address();
    ProgramFolder folder("\"" + name + "\",\"user\",\"secret\",\"" + name + "/pub\",\"30\",\"20\"\r\n");
    for (int hour = 0; hour < 24; ++hour) {
        folder.writeFile(fileOfHour(hour), randomBytes(30000 + 1000 * hour));
    }
    HeadlessPlatform platform;
    platform.folder = folder.path();
    platform.seconds = 29 * 60;
    FTPform form(platform);
    QVERIFY(form.Form_Load());
    form.show();
    FTPformTestAccess f(form);
    emit f.Timer3->timeout();
    f.Command4->click();
    QVERIFY(f.Timer4->running());

    // Odd hours fail, each in a way that shows a box or not; even hours are plain.
    const QString refused = QStringLiteral("InternetConnect Extd Err: 530 530 Login incorrect.");
    const QString full = QStringLiteral("FtpPutFile Extd Err: 552 552 Insufficient storage space.");
    const QString wrongFolder = QStringLiteral("転送先が間違ってます");
    DayDriver day(f, platform, dayServer, folder);
    day.start([&](int hour) -> FtpTestServer* {
        if (hour % 2 == 0)
            return nullptr;
        FtpTestServerOptions options;
        switch (hour % 8) {
        case 1:
            options.refuseLogin = true;
            break;
        case 3:
            options.diskFull = true;
            break;
        case 5:
            options.readonlyDirs = {QStringLiteral("pub")};
            break;
        case 7:
            options.dropAfterBytes = 1000;
            break;
        }
        day.m_side = std::make_unique<FtpTestServer>(options);
        day.m_side->makeDir("pub");
        return day.m_side->start() ? day.m_side.get() : nullptr;
    });
    QTRY_VERIFY_WITH_TIMEOUT(day.done && openBoxes().isEmpty(), 240000);

    QCOMPARE(day.hours.size(), size_t(24));
    QCOMPARE(platform.endCalls, 0);
    // Every box the day raised is still open at its end, each text once, however often
    // its fault came back (the login was refused in hours 1, 9 and 17).
    const QString readOnly = QStringLiteral("FtpPutFile Extd Err: 550 550 Not enough privileges.");
    QStringList open = day.hours[23].open;
    open.sort();
    QStringList expected = {refused, full, readOnly, wrongFolder};
    expected.sort();
    QCOMPARE(open, expected);
    QVERIFY(day.hours[9].shown.contains(refused));

    for (int hour = 0; hour < 24; ++hour) {
        const Hour& h = day.hours[hour];
        const QString what = QStringLiteral("%1: %2 STOR, %3 boxes open, shown %4")
                                 .arg(fileOfHour(hour))
                                 .arg(h.stores)
                                 .arg(h.open.size())
                                 .arg(h.shown.join(QLatin1Char('|')));
        if (hour % 2 == 0) {
            // Delivered whole, twice (both ticks of the set second), with boxes from
            // earlier hours still open from hour 2 on.
            QVERIFY2(h.delivered && h.stores == 2, qPrintable(what));
            if (hour >= 2)
                QVERIFY2(!h.open.isEmpty(), qPrintable(what));
        } else {
            QVERIFY2(!h.delivered, qPrintable(what));
        }
    }
}

// The server cannot store for a minute (451) from the upload second on, and nobody is
// there to answer the box that says so: the hour's tries go on beneath the open box and
// land the image about a minute after the server's return, and then the box goes.
void TestHeadless::anHourLandsWhileItsBoxStaysOpen()
{
    QTemporaryDir flags;
    const QString cannotStore = flags.filePath(QStringLiteral("cannot-store"));
    QVERIFY(writeFile(cannotStore, {}));
    FtpTestServerOptions options;
    options.localErrorWhile = cannotStore;
    FtpTestServer server(options);
    server.makeDir("pub");
    QVERIFY(server.start());
    const QByteArray name = server.address();
    ProgramFolder folder("\"" + name + "\",\"user\",\"secret\",\"" + name + "/pub\",\"30\",\"20\"\r\n");
    folder.writeFile(fileOfHour(10), randomBytes(40000));
    QTemporaryDir logs;
    QVERIFY(eventlog::open(logs.path()));
    HeadlessPlatform platform;
    platform.folder = folder.path();
    platform.seconds = 10 * 3600 + 29 * 60 + 58;
    FTPform form(platform);
    QVERIFY(form.Form_Load());
    form.show();
    FTPformTestAccess f(form);
    emit f.Timer3->timeout();
    f.Command4->click();

    // Half a second at a time, each tick's calls answered before the clock moves on.
    const auto playTo = [&](double seconds) {
        while (platform.seconds < seconds) {
            platform.seconds += 0.5;
            for (FormTimer* t : {f.Timer7, f.Timer6, f.Timer5, f.Timer4})
                if (t->running())
                    f.fire(t);
        }
    };
    const double due = 10 * 3600 + 30 * 60 + 20;
    playTo(due + 1);
    const QString refused = QStringLiteral("FtpPutFile Extd Err: 451 451 Local error in processing.");
    QCOMPARE(openBoxes().size(), 1);
    QCOMPARE(openBoxes().first()->text(), refused);
    playTo(due + 60); // the box stays open; the first tries fail
    QCOMPARE(openBoxes().size(), 1);
    QVERIFY(QFile::remove(cannotStore));
    playTo(due + 300);
    const QString remote = server.path(QStringLiteral("pub/") + fileOfHour(10));
    QVERIFY(QFile::exists(remote));
    QCOMPARE(sha256Of(remote), sha256Of(folder.filePath(fileOfHour(10))));
    QTRY_VERIFY(openBoxes().isEmpty());
    // Both sends of the second reported into the one box; the tries showed nothing.
    QCOMPARE(platform.shown, QStringList({refused, refused}));
    eventlog::close();
    const QByteArray log = readFile(logs.filePath("skylark.log"));
    QVERIFY2(log.contains("hourly: 10.jpg landed on try 3, 105 s after its second"), log.constData());
}

QTEST_MAIN(TestHeadless)
#include "test_headless.moc"
