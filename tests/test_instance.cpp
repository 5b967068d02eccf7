// The program as a process: one Skylark per program folder (checked with two real
// processes), a lock left by a crashed one, ending on a service manager's signal, the
// command line, and --arm starting the hourly upload against a real FTP server, with
// the password nowhere in the process's arguments, environment, log or standard error.
#include "ftptestserver.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <csignal>

namespace {

const QString kExecutable = QStringLiteral(SKYLARK_PICTURE_DIR "/skylark");

qint64 lockOwner(const QString& path)
{
    QLockFile lock(path);
    qint64 pid = 0;
    QString host, app;
    return lock.getLockInfo(&pid, &host, &app) ? pid : 0;
}

// A program folder of its own: the executable copied in (the program folder is where
// the executable is), the pictures, and ftp.txt.
class Installed {
public:
    explicit Installed(
        const QByteArray& settings = "\"127.0.0.1:9\",\"u\",\"pw\",\"127.0.0.1:9/pub\",\"30\",\"20\"\r\n")
    {
        const QDir from(QStringLiteral(SKYLARK_PICTURE_DIR));
        for (const QString& name : from.entryList(QDir::Files))
            QFile::copy(from.filePath(name), dir.filePath(name));
        QFile::setPermissions(dir.filePath("skylark"), QFile::permissions(kExecutable));
        write("ftp.txt", settings);
    }
    ~Installed()
    {
        for (QProcess* p : {&first, &second})
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(5000);
            }
    }

    void write(const QString& name, const QByteArray& bytes) const
    {
        QFile f(dir.filePath(name));
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(bytes);
    }
    QString log() const
    {
        QFile f(dir.filePath("skylark.log"));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    QString lockFile() const { return dir.filePath("skylark.lock"); }

    void start(QProcess& p, const QStringList& arguments = {})
    {
        p.setWorkingDirectory(dir.path());
        p.start(dir.filePath("skylark"), arguments);
    }
    // Up: its start is logged and the lock names it; at most 30 s (a sanitizer build is slow).
    bool waitUntilUp(QProcess& p)
    {
        const QString mine = QStringLiteral("pid=%1").arg(p.processId());
        QElapsedTimer t;
        t.start();
        if (!p.waitForStarted(10000)) {
            qWarning() << "did not start:" << p.errorString();
            return false;
        }
        while (t.elapsed() < 30000 && p.state() == QProcess::Running) {
            if (log().contains(mine) && lockOwner(lockFile()) == p.processId())
                return true;
            QTest::qWait(50);
        }
        return false;
    }

    QTemporaryDir dir;
    QProcess first, second;
};

} // namespace

class TestInstance : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void aSecondOneOnTheSameFolderEndsAtOnce();
    void aLockLeftByACrashIsTakenOver();
    void aLockWhoseProcessIdWasReusedIsTakenOver_data();
    void aLockWhoseProcessIdWasReusedIsTakenOver();
    void aStopEndsItWhileTheStartUpBoxIsOpen();
    void helpListsTheOptionsWithoutADisplay();
    void armStartsTheHourlyUploadWithoutAClick();
};

void TestInstance::initTestCase()
{
    QVERIFY2(QFile::exists(kExecutable), qPrintable(kExecutable));
}

void TestInstance::aSecondOneOnTheSameFolderEndsAtOnce()
{
    Installed here;
    here.start(here.first);
    QVERIFY(here.waitUntilUp(here.first));
    QCOMPARE(lockOwner(here.lockFile()), here.first.processId());

    // It ends by itself, without a box to answer, and says why on standard error and in the log.
    here.start(here.second);
    QVERIFY(here.second.waitForFinished(30000));
    QCOMPARE(here.second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(here.second.exitCode(), 3);
    const QString said = QString::fromUtf8(here.second.readAllStandardError());
    const QString expected =
        QStringLiteral("ERROR end: another Skylark (pid %1) already runs in this folder").arg(here.first.processId());
    QVERIFY2(said.contains(expected), qPrintable(said));
    QVERIFY2(here.log().contains(expected), qPrintable(here.log()));
    QCOMPARE(lockOwner(here.lockFile()), here.first.processId());

    // One per folder, not one per machine: another folder runs beside it.
    Installed elsewhere;
    elsewhere.start(elsewhere.first);
    QVERIFY(elsewhere.waitUntilUp(elsewhere.first));

    // A service manager's stop: the window is closed and the end logged, the lock goes.
    for (Installed* one : {&here, &elsewhere}) {
        ::kill(static_cast<pid_t>(one->first.processId()), SIGTERM);
        QVERIFY(one->first.waitForFinished(30000));
        QCOMPARE(one->first.exitCode(), 0);
        QVERIFY2(one->log().trimmed().endsWith("INFO end: SIGTERM (exit status 0)"), qPrintable(one->log()));
        QVERIFY(!QFile::exists(one->lockFile()));
    }
}

void TestInstance::aLockLeftByACrashIsTakenOver()
{
    Installed here;
    here.start(here.first);
    QVERIFY(here.waitUntilUp(here.first));
    here.first.kill(); // SIGKILL: nothing is cleaned up
    QVERIFY(here.first.waitForFinished(10000));
    QVERIFY(QFile::exists(here.lockFile()));

    here.start(here.second);
    QVERIFY2(here.waitUntilUp(here.second), qPrintable(here.log()));
    QCOMPARE(lockOwner(here.lockFile()), here.second.processId());
    QVERIFY(!here.log().contains("already runs"));
}

void TestInstance::aLockWhoseProcessIdWasReusedIsTakenOver_data()
{
    QTest::addColumn<bool>("asOnWindows");
    QTest::newRow("as this system writes it") << false;
    // Qt on Windows writes %COMPUTERNAME%: a machine named camera-uploader-0001 is
    // CAMERA-UPLOADER there, a name its host name never matches; the machine id follows.
    QTest::newRow("as Qt writes it on Windows, machine name over 15 characters") << true;
}

void TestInstance::aLockWhoseProcessIdWasReusedIsTakenOver()
{
    // A crash left the lock, and its process id went to the Skylark of another folder: a
    // running process of the same name, which the id and name alone take for the owner.
    QFETCH(bool, asOnWindows);
    if (asOnWindows && QSysInfo::machineUniqueId().isEmpty())
        QSKIP("this machine has no machine id, which Qt writes on Windows");
    Installed elsewhere, here;
    elsewhere.start(elsewhere.first);
    QVERIFY(elsewhere.waitUntilUp(elsewhere.first));
    QFile theirs(elsewhere.lockFile());
    QVERIFY(theirs.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = theirs.readAll().split('\n');
    QVERIFY(lines.size() > 3);
    if (asOnWindows)
        lines[2] = "CAMERA-UPLOADER";
    here.write("skylark.lock", lines.join('\n'));
    here.start(here.first);
    QVERIFY2(here.waitUntilUp(here.first), qPrintable(here.log()));
    QCOMPARE(lockOwner(here.lockFile()), here.first.processId());
    QCOMPARE(lockOwner(elsewhere.lockFile()), elsewhere.first.processId());
}

void TestInstance::aStopEndsItWhileTheStartUpBoxIsOpen()
{
    // An empty ftp.txt: the start-up's box waits for an OK nobody gives (a service
    // drawn off screen). A stop ends it all the same, within a second, and frees the folder.
    Installed here("");
    here.start(here.first);
    QTRY_VERIFY_WITH_TIMEOUT(here.log().contains("box: shown \"足りないファイルがあるようです\""), 30000);
    QElapsedTimer t;
    t.start();
    ::kill(static_cast<pid_t>(here.first.processId()), SIGTERM);
    QVERIFY(here.first.waitForFinished(5000));
    QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
    QVERIFY(!QFile::exists(here.lockFile()));
    const QString log = here.log();
    QVERIFY2(log.contains("end requested: SIGTERM") && log.contains("end: the process ends at once"), qPrintable(log));
}

void TestInstance::helpListsTheOptionsWithoutADisplay()
{
    Installed here;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    p.setProcessEnvironment(env);
    p.start(here.dir.filePath("skylark"), {"--help"});
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 0);
    const QString help = QString::fromUtf8(p.readAllStandardOutput());
    for (const char* option : {"--arm", "--help", "--version", "下の時間に毎時転送"})
        QVERIFY2(help.contains(QString::fromUtf8(option)), qPrintable(help));
    // Asking for help starts nothing: no log, no lock.
    QVERIFY(!QFile::exists(here.dir.filePath("skylark.log")));

    // A wrong option is refused before anything starts.
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p.setProcessEnvironment(env);
    p.start(here.dir.filePath("skylark"), {"--no-such-option"});
    QVERIFY(p.waitForFinished(30000));
    QVERIFY(p.exitCode() != 0);
    QVERIFY(QString::fromUtf8(p.readAllStandardError()).contains("no-such-option"));
    QVERIFY(!QFile::exists(here.dir.filePath("skylark.log")));
}

void TestInstance::armStartsTheHourlyUploadWithoutAClick()
{
    // Two Skylarks set to upload a few seconds from now, each to its own server: only
    // the one started with --arm uploads. The connect stage runs ten seconds before the
    // set second within the same minute, so a set second below 10 is avoided.
    QDateTime at = QDateTime::currentDateTime().addSecs(25);
    while (at.time().second() < 12)
        at = at.addSecs(1);
    const QByteArray minute = at.toString("mm").toLatin1(), second = at.toString("ss").toLatin1();
    const QString file = at.toString("HH") + ".jpg";

    const QString password = QStringLiteral("Hq4!pw パス");
    FtpTestServerOptions withPassword;
    withPassword.password = password;
    FtpTestServer armedServer(withPassword), idleServer(withPassword);
    for (FtpTestServer* s : {&armedServer, &idleServer}) {
        s->makeDir("pub");
        QVERIFY(s->start());
    }
    auto settingsFor = [&](const FtpTestServer& s) {
        return "\"" + s.address() + "\",\"user\",\"" + password.toUtf8() + "\",\"" + s.address() + "/pub\",\"" +
               minute + "\",\"" + second + "\"\r\n";
    };
    Installed armed(settingsFor(armedServer)), idle(settingsFor(idleServer));
    const QByteArray image(50000, 'j');
    armed.write(file, image);
    idle.write(file, image);
    armed.start(armed.first, {"--arm"});
    idle.start(idle.first);
    QVERIFY(armed.waitUntilUp(armed.first));
    QVERIFY(idle.waitUntilUp(idle.first));
    QVERIFY2(QDateTime::currentDateTime() < at.addSecs(-10), "the programs came up too late for the connect stage");

    // While it runs, connected or not, its arguments and environment are looked at.
    const QString proc = QStringLiteral("/proc/%1/").arg(armed.first.processId());
    QByteArray seen;
    auto look = [&] {
        for (const char* name : {"cmdline", "environ"}) {
            QFile f(proc + name);
            if (f.open(QIODevice::ReadOnly))
                seen += f.readAll();
        }
        return QFile::exists(armedServer.path("pub/" + file)) &&
               QFileInfo(armedServer.path("pub/" + file)).size() == image.size();
    };
    QTRY_VERIFY_WITH_TIMEOUT(look(), 40000);
    QVERIFY(armed.log().contains("arm: pressing \"下の時間に毎時転送\" (--arm)"));
    // The idle one was never armed: past the set second, nothing reached its server.
    while (QDateTime::currentDateTime() < at.addSecs(2))
        QTest::qWait(100);
    QVERIFY(!idleServer.commands().contains("STOR " + file));
    QVERIFY(!idle.log().contains("arm:"));
    QCOMPARE(idle.first.state(), QProcess::Running);

    ::kill(static_cast<pid_t>(armed.first.processId()), SIGTERM);
    QVERIFY(armed.first.waitForFinished(30000));
    const QString log = armed.log();
    QVERIFY2(log.contains("upload: file=\"" + file + "\"") && log.contains("disconnect: "), qPrintable(log));
    QVERIFY(seen.contains("--arm"));
    for (const QByteArray& where : {seen, log.toUtf8(), armed.first.readAllStandardError()})
        QVERIFY(!where.contains(password.toUtf8()) && !where.contains(QUrl::toPercentEncoding(password)));
}

QTEST_GUILESS_MAIN(TestInstance)
#include "test_instance.moc"
