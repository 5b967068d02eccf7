// The program from its command line to its end.
#include "window/app/runSkylark.h"

#include "core/app/alertTest.h"
#include "core/base/eventLog.h"
#include "core/base/instanceLock.h"
#include "core/base/threadsLeftBehind.h"
#include "window/app/ftpForm.h"
#include "window/app/platform.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

// Exit status of a Skylark that found its folder taken by another one; a service
// manager is told not to restart on it.
constexpr int kExitFolderTaken = 3;

const QCommandLineOption kArm(QStringLiteral("arm"),
                              QStringLiteral("Press \"下の時間に毎時転送\" once the window is up, as after a "
                                             "click: the hourly upload starts without anyone at the screen."));

const QCommandLineOption kTestAlert(QStringLiteral("test-alert"),
                                    QStringLiteral("Send one test message through every channel alert.txt sets, say "
                                                   "what became of each, and end: status 0 when all arrived and the "
                                                   "file has no mistake. Takes no lock: works while Skylark runs."));

void describe(QCoreApplication& app, QCommandLineParser& parser)
{
    app.setApplicationName(QStringLiteral("Skylark"));
    app.setApplicationVersion(QStringLiteral(SKYLARK_VERSION));
    parser.setApplicationDescription(
        QStringLiteral("Uploads the hour's image (00.jpg to 23.jpg, beside the program) to an FTP server once an "
                       "hour.\nOne Skylark runs per program folder; another one started there ends at once with "
                       "exit status %1.\nEvents are logged to skylark.log beside the program and to standard error.")
            .arg(kExitFolderTaken));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(kArm);
    parser.addOption(kTestAlert);
}

// Help, version and the alert test need no window, so they also work where no display is.
bool needsNoWindow(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        for (const char* option : {"-h", "--help", "-?", "--help-all", "-v", "--version", "--test-alert"})
            if (std::strcmp(argv[i], option) == 0)
                return true;
    return false;
}

// A window program on Windows has no console of its own: what it prints goes to the
// console of the command that started it (start /wait skylark --test-alert), if any.
void printToStartingConsole()
{
#ifdef Q_OS_WIN
    if (AttachConsole(ATTACH_PARENT_PROCESS)) {
        std::freopen("CONOUT$", "w", stdout);
        std::freopen("CONOUT$", "w", stderr);
        SetConsoleOutputCP(CP_UTF8);
    }
#endif
}

} // namespace

int runSkylark(int argc, char** argv, const std::function<void()>& whenShown)
{
#ifdef SIGPIPE
    // Standard error may be a pipe whose reader goes away (a restarted journal): a
    // failed write is ignored, it must not end the program.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    if (needsNoWindow(argc, argv)) {
        printToStartingConsole();
        QCoreApplication app(argc, argv);
        QCommandLineParser parser;
        describe(app, parser);
        parser.process(app);
        if (!parser.isSet(kTestAlert))
            return 0;
        QTextStream out(stdout);
        return testAlert(QCoreApplication::applicationDirPath(), out);
    }

    // Before the password is read from ftp.txt.
    DesktopPlatform::keepMemoryPrivate();
    QApplication app(argc, argv);
    QCommandLineParser parser;
    describe(app, parser);
    parser.process(app);
    const bool arm = parser.isSet(kArm);

    DesktopPlatform platform;
    // Caught from here on: a stop that comes before any event loop runs waits for one,
    // the start-up's box included, instead of killing the process.
    FTPform* window = nullptr;
    QString how = QStringLiteral("the window was closed");
    // The program's last steps, taken once, whichever way it ends: the lock released,
    // then the end line, and the log closed, so that the end line is its last.
    std::function<void(const QString& line)> finish = [](const QString&) {};
    platform.endOnRequest(&app, [&](const QString& signal, bool endsOnReturn) {
        how = signal;
        // As if the operator closed the window: the FTP session is closed politely.
        if (window)
            window->close();
        if (endsOnReturn)
            finish(QStringLiteral("end: %1 (exit status 0)").arg(how));
    });

    const QString folder = QDir::toNativeSeparators(platform.applicationFolder());
    eventlog::open(folder);
    eventlog::info(QStringLiteral("start: Skylark %1 folder=%2 pid=%3%4")
                       .arg(QCoreApplication::applicationVersion(), eventlog::quote(folder))
                       .arg(QCoreApplication::applicationPid())
                       .arg(arm ? QStringLiteral(" --arm") : QString()));

    InstanceLock lock(folder);
    switch (lock.acquire()) {
    case InstanceLock::Outcome::Mine:
        break;
    case InstanceLock::Outcome::Taken:
        eventlog::error(QStringLiteral("end: another Skylark (%1) already runs in this folder; this one ends "
                                       "(exit status %2)")
                            .arg(lock.holder())
                            .arg(kExitFolderTaken));
        eventlog::close();
        return kExitFolderTaken;
    case InstanceLock::Outcome::Unavailable:
        eventlog::warning(
            QStringLiteral("lock: %1; a second Skylark in this folder would not be noticed").arg(lock.reason()));
        break;
    }
    bool finished = false;
    finish = [&](const QString& line) {
        if (finished)
            return;
        finished = true;
        lock.release();
        eventlog::info(line);
        eventlog::close();
    };
    platform.setOnEnd([&] { finish(QStringLiteral("end: the process ends at once")); });

    auto form = std::make_unique<FTPform>(platform);
    window = form.get();
    if (!form->Form_Load())
        return 1;
    if (platform.endRequested()) {
        // Asked to end while the start-up showed a box: the window never shows.
        finish(QStringLiteral("end: %1 (exit status 0)").arg(how));
        return 0;
    }
    form->show();
    if (arm) {
        // Once the window is up: the same checks and messages as a click.
        QTimer::singleShot(0, form.get(), [&form] {
            eventlog::info(QStringLiteral("arm: pressing \"下の時間に毎時転送\" (--arm)"));
            form->armHourlyUpload();
        });
    }
    if (whenShown)
        QTimer::singleShot(0, form.get(), whenShown);
    const int rc = QApplication::exec();
    // The window goes before the end line: what it still does as it goes is logged first.
    window = nullptr;
    form.reset();
    finish(QStringLiteral("end: %1 (exit status %2)").arg(how).arg(rc));
    if (anyThreadLeftBehind()) {
        // A session's thread, or a message's, is still inside a call: the process ends
        // here, without the static destructors, which would tear libcurl and Qt down
        // under that thread.
        std::fflush(nullptr);
        std::_Exit(rc);
    }
    return rc;
}
