// The hourly job's rules: the ticks of the three stages and the outcomes of the steps it
// asks for, against what it answers. The window and the network stay out: a driver
// steps the clock, ticks the stages as their timers do, and answers each step from a
// small model of the server (up or away, its STOR reply, the folder refused, the image
// missing), so each test reads as a timeline of what the job did.
#include "core/ftp/passingFailure.h"
#include "core/scheduler/hourlyJob.h"
#include "core/scheduler/hourlyRetry.h"

#include <QTest>

using namespace wininet;

namespace {

const QDate kMonday(2026, 12, 7);

QDateTime at(const QString& time, QDate day = kMonday)
{
    return QDateTime(day, QTime::fromString(time, time.contains('.') ? "H:mm:ss.z" : "H:mm:ss"));
}

FtpFailure failure(std::uint32_t code, const char* call, int reply = 0)
{
    return FtpFailure{code, QString::fromLatin1(call), ServerReply{reply, {}}, {}};
}

const char* nameOf(HourlyStep step)
{
    constexpr const char* names[] = {"CheckImage", "Connect",    "List",    "ChangeFolder",
                                     "Upload",     "Disconnect", "Goodbye", "Done"};
    return names[static_cast<int>(step)];
}

const char* nameOf(HourlyRunKind kind)
{
    constexpr const char* names[] = {"connect", "upload", "disconnect", "try"};
    return names[static_cast<int>(kind)];
}

// The job beside a model of the window and the server, on a clock the test moves.
struct Driver {
    HourlyJob job;
    QDateTime now = at("10:29:00");
    double monotonic = 1000;
    QString minute = QStringLiteral("30");
    QString second = QStringLiteral("20");
    // The server and the program folder.
    bool up = true;
    bool loginRefused = false;
    int storReply = 0; // 0: STOR goes through
    bool folderRefused = false;
    bool imageMissing = false;
    bool operatorBusy = false;      // a call of the operator's is under way
    std::optional<HourlyStep> hold; // a run stops before this step, as on a silent server
    // What the window holds.
    bool connected = false;
    std::optional<std::pair<HourlyRun, HourlyStep>> held; // the run waiting for its answer
    QStringList actions;  // "10:30:20 upload: ChangeFolder Upload!" (! a box, - a quiet failure)
    QStringList outcomes; // "10:30:20 10.jpg landed tries=0"
    QList<std::uint64_t> closedBoxes;
    std::uint64_t boxes = 0;

    Driver()
    {
        job.onOutcome = [this](const HourOutcome& o) {
            outcomes << QStringLiteral("%1 %2 %3 tries=%4")
                            .arg(o.due.toString("ddd H:mm:ss"), o.image.remoteName,
                                 o.landed ? QStringLiteral("landed") : QStringLiteral("not-sent"))
                            .arg(o.tries);
        };
    }

    HourlyTick tick() const
    {
        return HourlyTick{now, monotonic, minute, second, true, connected, held.has_value() || operatorBusy, false};
    }
    // The window's image follows the clock's hour, as the refresher keeps it.
    HourImage image() const
    {
        const QString name = now.toString("HH") + QStringLiteral(".jpg");
        return HourImage{QStringLiteral("/cam/") + name, name, QStringLiteral("/pub"), {}};
    }

    // Moves the clock in half seconds up to `time` (the next day when it is earlier), each
    // step ticking the stages in the timers' order.
    void playTo(const QString& time)
    {
        QDateTime target = at(time, now.date());
        if (target <= now)
            target = target.addDays(1);
        while (now < target) {
            now = now.addMSecs(500);
            monotonic += 0.5;
            carry(job.connectTick(tick()));
            carry(job.uploadTick(tick(), image()));
            carry(job.disconnectTick(tick()));
        }
    }
    // The clock set to another time without the time passing (a correction).
    void setClock(const QDateTime& to) { now = to; }

    void carry(const HourlyAnswer& answer)
    {
        const QString time = now.toString(now.time().msec() ? "H:mm:ss.z" : "H:mm:ss");
        if (answer.cutShort)
            actions << time + QStringLiteral(" cut");
        if (answer.notice != HourlyNotice::None)
            actions << time + QStringLiteral(" notice");
        if (!answer.run)
            return;
        const HourlyRun& r = *answer.run;
        // A try names the image it sends.
        run(r, r.first,
            time + QStringLiteral(" %1%2:").arg(nameOf(r.kind),
                                                r.kind == HourlyRunKind::Try ? " " + r.image.remoteName : QString()));
    }

    void run(const HourlyRun& r, HourlyStep step, const QString& line)
    {
        if (hold == step) {
            held = {r, step};
            actions << line + QStringLiteral(" (%1 waits)").arg(nameOf(step));
            return;
        }
        finish(r, step, outcomeOf(step), line);
    }
    // The answer to the held step comes.
    void release(std::optional<FtpFailure> outcome = std::nullopt)
    {
        const auto [r, step] = *std::exchange(held, std::nullopt);
        hold.reset();
        finish(r, step, outcome, now.toString("H:mm:ss") + QStringLiteral(" %1 goes on:").arg(nameOf(r.kind)));
    }
    void finish(const HourlyRun& r, HourlyStep step, const std::optional<FtpFailure>& outcome, QString line)
    {
        const HourlyNext next = job.stepDone(r.id, step, outcome, now);
        closedBoxes << next.closeBoxes;
        line += QStringLiteral(" ") + nameOf(step) + (!outcome ? "" : next.showFailure ? "!" : "-");
        if (outcome && next.showFailure)
            job.boxOpened(r.id, ++boxes);
        if (next.step == HourlyStep::Done) {
            actions << line;
            carry(job.idle(tick()));
            return;
        }
        run(r, next.step, line);
    }

    std::optional<FtpFailure> outcomeOf(HourlyStep step)
    {
        switch (step) {
        case HourlyStep::CheckImage:
            return imageMissing ? std::optional(failure(ERROR_FILE_NOT_FOUND, "FtpPutFile")) : std::nullopt;
        case HourlyStep::Connect:
            connected = up && !loginRefused;
            if (loginRefused)
                return failure(ERROR_INTERNET_EXTENDED_ERROR, "InternetConnect", 530);
            return up ? std::nullopt : std::optional(failure(ERROR_INTERNET_CANNOT_CONNECT, "InternetConnect"));
        case HourlyStep::ChangeFolder:
            if (!connected)
                return failure(ERROR_INVALID_HANDLE, "FtpSetCurrentDirectory");
            return folderRefused ? std::optional(failure(ERROR_INTERNET_EXTENDED_ERROR, "FtpSetCurrentDirectory", 550))
                                 : std::nullopt;
        case HourlyStep::Upload:
            if (!connected)
                return failure(ERROR_INVALID_HANDLE, "FtpPutFile");
            return storReply ? std::optional(failure(ERROR_INTERNET_EXTENDED_ERROR, "FtpPutFile", storReply))
                             : std::nullopt;
        case HourlyStep::Disconnect:
        case HourlyStep::Goodbye:
            connected = false;
            return std::nullopt;
        default:
            return std::nullopt;
        }
    }
};

// Each tick of a stage's second carries the stage out; the second disconnect finds
// nothing left to close.
const QStringList kHealthyStages = {"10:30:10 connect: Connect List", "10:30:20 upload: ChangeFolder Upload",
                                    "10:30:20.5 upload: ChangeFolder Upload", "10:30:30 disconnect: Disconnect",
                                    "10:30:30.5 disconnect: Disconnect"};

} // namespace

class TestHourlyJob : public QObject {
    Q_OBJECT
private slots:
    void aHealthyHour();
    void aBoxLeftOpenHoldsNothingAndGoesWhenTheHourLands();
    void aReplyOf4xxIsTriedAgain_data();
    void aReplyOf4xxIsTriedAgain();
    void whatWillNotPassIsDecidedWhenItsSecondIsOver();
    void aTryCostsNoLoginWithoutItsImageAndStopsAtARefusedFolder();
    void aTryReachingTheNextConnectStageMakesWay();
    void aTryPastTheLastMinutesIsCutShort();
    void anHourIsKnownByItsDateAndHour();
    void aClockSetBackEndsTheTries();
    void stopAndArmAgainWhileTriesArePending();
    void aCallUnderWayDefersTheStages();
    void nextTry_data();
    void nextTry();
    void whichFailuresMayPass();
};

void TestHourlyJob::aHealthyHour()
{
    Driver d;
    d.playTo("11:30:31");
    QCOMPARE(d.actions.mid(0, 5), kHealthyStages);
    QCOMPARE(d.actions.size(), 10); // and the same at 11:30
    QCOMPARE(d.outcomes, QStringList({"Mon 10:30:20 10.jpg landed tries=0", "Mon 11:30:20 11.jpg landed tries=0"}));
}

void TestHourlyJob::aBoxLeftOpenHoldsNothingAndGoesWhenTheHourLands()
{
    // The server is away at the connect and the upload; its boxes stay open (nobody
    // answers them, and the job never asks) while the tries go on, and close when the
    // hour lands.
    Driver d;
    d.up = false;
    d.playTo("10:30:21");
    QCOMPARE(d.actions,
             QStringList({"10:30:10 connect: Connect!", "10:30:10.5 connect: Connect!",
                          "10:30:20 upload: ChangeFolder! Upload!", "10:30:20.5 upload: ChangeFolder! Upload!"}));
    d.actions.clear();
    d.up = true;
    d.playTo("10:31:00");
    QCOMPARE(d.actions, QStringList({"10:30:30 disconnect: Disconnect", "10:30:30.5 disconnect: Disconnect",
                                     "10:30:35 try 10.jpg: CheckImage Connect ChangeFolder Upload Goodbye"}));
    // The connect's box, and the upload second's (each distinct box the hour opened).
    QCOMPARE(d.closedBoxes, QList<std::uint64_t>({1, 2, 3, 4, 5, 6}));
    QCOMPARE(d.outcomes, QStringList{"Mon 10:30:20 10.jpg landed tries=1"});
}

void TestHourlyJob::aReplyOf4xxIsTriedAgain_data()
{
    QTest::addColumn<int>("reply");
    QTest::addColumn<QString>("back"); // when the server takes the image again
    QTest::addColumn<QStringList>("tries");
    const QString landing = QStringLiteral(" try 10.jpg: CheckImage Connect ChangeFolder Upload Goodbye");
    const QString failing = QStringLiteral(" try 10.jpg: CheckImage Connect ChangeFolder Upload- Goodbye");
    QTest::newRow("451 for a minute") << 451 << "10:31:20"
                                      << QStringList{"10:30:35" + failing, "10:31:05" + failing, "10:32:05" + landing};
    QTest::newRow("452 disk full for a moment") << 452 << "10:30:30" << QStringList{"10:30:35" + landing};
    QTest::newRow("450 file busy") << 450 << "10:30:30" << QStringList{"10:30:35" + landing};
}

void TestHourlyJob::aReplyOf4xxIsTriedAgain()
{
    QFETCH(int, reply);
    QFETCH(QString, back);
    QFETCH(QStringList, tries);
    Driver d;
    d.storReply = reply;
    d.playTo("10:30:21");
    QCOMPARE(d.actions.mid(1),
             QStringList({"10:30:20 upload: ChangeFolder Upload!", "10:30:20.5 upload: ChangeFolder Upload!"}));
    d.actions.clear();
    d.playTo(back);
    d.storReply = 0;
    d.playTo("10:40:00");
    d.actions = d.actions.filter("try");
    QCOMPARE(d.actions, tries);
    QCOMPARE(d.outcomes, QStringList{QStringLiteral("Mon 10:30:20 10.jpg landed tries=%1").arg(tries.size())});
}

void TestHourlyJob::whatWillNotPassIsDecidedWhenItsSecondIsOver()
{
    // 552 on the first send, then the second send of the second lands: the log and the
    // record say it landed, not that it was lost.
    Driver d;
    d.storReply = 552;
    d.playTo("10:30:20");
    QVERIFY(d.outcomes.isEmpty());
    d.storReply = 0;
    d.playTo("10:30:21");
    QCOMPARE(d.outcomes, QStringList{"Mon 10:30:20 10.jpg landed tries=0"});
    QCOMPARE(d.closedBoxes, QList<std::uint64_t>{1});

    // 552 on both: not sent once the second is over, and never tried again.
    Driver e;
    e.storReply = 552;
    e.playTo("10:30:20.5");
    QVERIFY(e.outcomes.isEmpty());
    e.playTo("11:30:00");
    QCOMPARE(e.outcomes, QStringList{"Mon 10:30:20 10.jpg not-sent tries=0"});
    QCOMPARE(e.actions.filter("try").size(), 0);

    // A refused login: the hour fails as its connect did, and is not tried again
    // (providers lock an account that keeps trying).
    Driver g;
    g.loginRefused = true;
    g.playTo("11:00:00");
    QCOMPARE(g.outcomes, QStringList{"Mon 10:30:20 10.jpg not-sent tries=0"});
    QCOMPARE(g.actions.filter("try").size(), 0);

    // No session at the second and no connect made for the hour (a second box under 10
    // never connects): not tried, as it always was.
    Driver f;
    f.second = QStringLiteral("05");
    f.playTo("10:31:00");
    QCOMPARE(f.outcomes, QStringList{"Mon 10:30:05 10.jpg not-sent tries=0"});
    QCOMPARE(f.actions.filter("try").size(), 0);
}

void TestHourlyJob::aTryCostsNoLoginWithoutItsImageAndStopsAtARefusedFolder()
{
    Driver d;
    d.imageMissing = true;
    d.storReply = 451; // the camera has not written it yet; the server wants it later
    d.playTo("10:30:36");
    QCOMPARE(d.actions.last(), QString("10:30:35 try 10.jpg: CheckImage-"));
    d.imageMissing = false;
    d.storReply = 0;
    d.folderRefused = true; // and now the folder is gone: that does not pass
    d.playTo("10:31:10");
    QCOMPARE(d.actions.last(), QString("10:31:05 try 10.jpg: CheckImage Connect ChangeFolder- Goodbye"));
    QCOMPARE(d.outcomes, QStringList{"Mon 10:30:20 10.jpg not-sent tries=2"});
}

void TestHourlyJob::aTryReachingTheNextConnectStageMakesWay()
{
    // The upload second late in the hour, the minute box then changed: the 11:10 cycle
    // comes while a try of 10:59:55 still waits for its STOR, on the session the stage
    // left open (a second of 55 never disconnects).
    Driver d;
    d.minute = QStringLiteral("59");
    d.second = QStringLiteral("55");
    d.storReply = 421;
    d.playTo("10:59:56");
    d.minute = QStringLiteral("10");
    d.second = QStringLiteral("20");
    d.hold = HourlyStep::Upload;
    d.playTo("11:00:10.5");
    QCOMPARE(d.actions.last(), QString("11:00:10 try 10.jpg: CheckImage ChangeFolder (Upload waits)"));
    d.playTo("11:10:10");
    QCOMPARE(d.actions.last(), QString("11:10:10 cut"));
    QVERIFY(d.job.waiting());
    QCOMPARE(d.outcomes, QStringList{"Mon 10:59:55 10.jpg not-sent tries=1"}); // decided as the next hour begins
    // The cut takes its time (a name lookup does not heed it): 11:10:20 finds the call
    // still under way and is left to a try; then the cut try closes the session it was
    // cut on, and the connect stage that waited is too late to run.
    d.storReply = 0;
    d.playTo("11:10:21");
    d.release(failure(ERROR_INTERNET_OPERATION_CANCELLED, "FtpPutFile"));
    QCOMPARE(d.actions.last(), QString("11:10:21 try goes on: Upload- Disconnect"));
    d.playTo("11:10:40");
    QCOMPARE(d.actions.last(), QString("11:10:35 try 11.jpg: CheckImage Connect ChangeFolder Upload Goodbye"));
    QCOMPARE(d.outcomes, QStringList({"Mon 10:59:55 10.jpg not-sent tries=1", "Mon 11:10:20 11.jpg landed tries=1"}));
}

void TestHourlyJob::aTryPastTheLastMinutesIsCutShort()
{
    // Tries every five minutes, the last one begun in time and hanging at its login,
    // and no stage at 11:30 (the minute box changed): the try is cut short when the next
    // cycle would begin, and the hour is not sent.
    Driver d;
    d.storReply = 421;
    d.playTo("11:27:30");
    QCOMPARE(d.actions.filter("try 10.jpg").size(), 14);
    d.hold = HourlyStep::Connect;
    d.minute = QStringLiteral("45");
    d.playTo("11:30:09.5");
    QCOMPARE(d.actions.last(), QString("11:28:05 try 10.jpg: CheckImage (Connect waits)"));
    d.playTo("11:30:10");
    QCOMPARE(d.actions.last(), QString("11:30:10 cut"));
    d.release(failure(ERROR_INTERNET_OPERATION_CANCELLED, "InternetConnect"));
    QCOMPARE(d.outcomes, QStringList{"Mon 10:30:20 10.jpg not-sent tries=15"});
}

void TestHourlyJob::anHourIsKnownByItsDateAndHour()
{
    // Across midnight: the tries of 23:59:55 belong to it after midnight and send its
    // image, although the window has moved on to 00.jpg. The same second on the next
    // day is another hour, sent again.
    Driver d;
    d.now = at("23:59:00");
    d.minute = QStringLiteral("59");
    d.second = QStringLiteral("55");
    d.up = false;
    d.playTo("23:59:56");
    d.up = true;
    d.playTo("0:00:30");
    QCOMPARE(d.outcomes, QStringList{"Mon 23:59:55 23.jpg landed tries=1"});
    d.playTo("23:59:56");
    QCOMPARE(d.outcomes.last(), QString("Tue 23:59:55 23.jpg landed tries=0"));
}

void TestHourlyJob::aClockSetBackEndsTheTries()
{
    // A time server's step of a few seconds back across the upload second: the same
    // hour, tried and landed once.
    Driver step;
    step.storReply = 451;
    step.playTo("10:30:22");
    step.setClock(at("10:30:19"));
    step.storReply = 0;
    step.playTo("10:31:00");
    QCOMPARE(step.outcomes, QStringList{"Mon 10:30:20 10.jpg landed tries=0"});

    Driver d;
    d.up = false;
    d.playTo("10:30:21");
    d.setClock(at("9:31:00"));
    d.playTo("9:31:01");
    QCOMPARE(d.outcomes, QStringList{"Mon 10:30:20 10.jpg not-sent tries=0"});
    // The same second once more is an hour of its own.
    d.up = true;
    d.playTo("10:30:31");
    QCOMPARE(d.outcomes.last(), QString("Mon 10:30:20 10.jpg landed tries=0"));
}

void TestHourlyJob::stopAndArmAgainWhileTriesArePending()
{
    Driver d;
    d.up = false;
    d.playTo("10:30:21");
    d.job.stopped(QStringLiteral("the hourly upload was stopped"));
    QCOMPARE(d.outcomes, QStringList{"Mon 10:30:20 10.jpg not-sent tries=0"});
    d.up = true;
    d.playTo("10:40:00"); // armed again: the stopped hour is not tried
    QCOMPARE(d.actions.filter("try").size(), 0);

    // Stopped while a try runs: what it sends still lands the hour.
    Driver e;
    e.up = false;
    e.playTo("10:30:21");
    e.up = true;
    e.hold = HourlyStep::Upload;
    e.playTo("10:30:36");
    e.job.stopped(QStringLiteral("the hourly upload was stopped"));
    e.release();
    QCOMPARE(e.outcomes, QStringList{"Mon 10:30:20 10.jpg landed tries=1"});
}

void TestHourlyJob::aCallUnderWayDefersTheStages()
{
    // The operator's call under way at each stage's second: the connect and the
    // disconnect run once it is over, the upload is tried again.
    Driver d;
    d.operatorBusy = true;
    d.playTo("10:30:10.5");
    QVERIFY(d.job.waiting());
    d.operatorBusy = false;
    d.carry(d.job.idle(d.tick()));
    QCOMPARE(d.actions, QStringList{"10:30:10.5 connect: Connect List"});
    d.operatorBusy = true;
    d.playTo("10:30:30");
    d.operatorBusy = false;
    d.carry(d.job.idle(d.tick()));
    d.playTo("10:30:40");
    QCOMPARE(d.actions.mid(1), QStringList({"10:30:30 disconnect: Disconnect", "10:30:30.5 disconnect: Disconnect",
                                            "10:30:35 try 10.jpg: CheckImage Connect ChangeFolder Upload Goodbye"}));
}

void TestHourlyJob::nextTry_data()
{
    QTest::addColumn<QString>("due");
    QTest::addColumn<QString>("failed");
    QTest::addColumn<int>("tries");
    QTest::addColumn<QString>("next"); // empty: none
    // clang-format off
    QTest::newRow("the stage failed") << "10:30:20" << "10:30:20.6" << 0 << "10:30:35";
    QTest::newRow("first try failed after its connect timed out") << "10:30:20" << "10:31:05" << 1 << "10:31:35";
    QTest::newRow("doubled") << "10:30:20" << "10:32:00" << 3 << "10:34:00";
    QTest::newRow("at most five minutes") << "10:30:20" << "10:40:00" << 5 << "10:45:00";
    QTest::newRow("and stays there") << "10:30:20" << "10:40:00" << 40 << "10:45:00";
    QTest::newRow("last one that fits") << "10:30:20" << "11:23:10" << 6 << "11:28:10";
    QTest::newRow("would run into 11:30:10") << "10:30:20" << "11:23:11" << 6 << "";
    QTest::newRow("clock jumped past the next cycle") << "10:30:20" << "11:40:00" << 1 << "";
    QTest::newRow("clock set back an hour") << "10:30:20" << "9:31:00" << 1 << "";
    QTest::newRow("clock set back a few seconds") << "10:30:20" << "10:30:15" << 0 << "10:30:35";
    // clang-format on
}

void TestHourlyJob::nextTry()
{
    QFETCH(QString, due);
    QFETCH(QString, failed);
    QFETCH(int, tries);
    QFETCH(QString, next);
    const std::optional<QDateTime> got = nextTryAt(at(due), at(failed), tries);
    QCOMPARE(got ? got->time().toString("H:mm:ss") : QString(), next);
}

void TestHourlyJob::whichFailuresMayPass()
{
    const auto mayPassWith = [](std::uint32_t code, int reply = 0) {
        return mayPass(failure(code, "FtpPutFile", reply));
    };
    for (const std::uint32_t code :
         {ERROR_INTERNET_CANNOT_CONNECT, ERROR_INTERNET_TIMEOUT, ERROR_INTERNET_NAME_NOT_RESOLVED,
          ERROR_INTERNET_CONNECTION_ABORTED, ERROR_INTERNET_SECURITY_CHANNEL_ERROR, ERROR_FILE_NOT_FOUND,
          ERROR_HANDLE_EOF, ERROR_INVALID_HANDLE})
        QVERIFY2(mayPassWith(code), errorName(code).data());
    // A fault of the program's own (libcurl missing, a protocol it lacks) never passes.
    for (const std::uint32_t code :
         {ERROR_INTERNET_INVALID_CA, ERROR_INTERNET_SEC_CERT_CN_INVALID, ERROR_INTERNET_SEC_CERT_DATE_INVALID,
          ERROR_INTERNET_SEC_INVALID_CERT, ERROR_INVALID_PARAMETER, ERROR_INTERNET_OPERATION_CANCELLED,
          ERROR_INTERNET_INTERNAL_ERROR})
        QVERIFY2(!mayPassWith(code), errorName(code).data());
    for (const int reply : {421, 450, 451, 452})
        QVERIFY2(mayPassWith(ERROR_INTERNET_EXTENDED_ERROR, reply), qPrintable(QString::number(reply)));
    for (const int reply : {530, 550, 552, 553})
        QVERIFY2(!mayPassWith(ERROR_INTERNET_EXTENDED_ERROR, reply), qPrintable(QString::number(reply)));
}

QTEST_APPLESS_MAIN(TestHourlyJob)
#include "test_hourlyjob.moc"
