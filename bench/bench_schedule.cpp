// How late in its second the hourly upload starts, with the window's real timers on the
// real clock. The window's clock is the wall clock moved by whole seconds, so its
// seconds begin exactly when the wall clock's do: each cycle moves it to just before
// the connect second, the upload second and the disconnect second in turn, and waits
// for the real timers to get there. The delay is measured from the moment the set
// second began to the moment the upload stage's tick began to be handled (the tick
// that sent the file to the local pyftpdlib server).
//
//   bench_schedule [CYCLES=60]

#include "window/app/ftpForm.h"
#include "window/app/platform.h"
#include "window/scheduler/formTimer.h"

#include "benchutil.h"
#include "formaccess.h"
#include "ftptestserver.h"
#include "programfolder.h"

#include <QApplication>
#include <QDateTime>
#include <QPushButton>
#include <QTest>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// The desktop platform with its clock set some whole seconds off, and boxes that are
// counted instead of shown.
class ShiftedPlatform final : public Platform {
public:
    QTime timeOfDay() override { return QTime::currentTime().addSecs(static_cast<int>(offsetSeconds)); }
    double monotonicSeconds() override { return desktop.monotonicSeconds(); }
    void showMessage(const QString& text) override
    {
        ++messages;
        std::fprintf(stderr, "box: %s\n", qPrintable(text));
    }
    bool askYesNo(const QString&, bool) override { return false; } // the hourly upload never asks
    void endProcess() override { std::abort(); }
    QString applicationFolder() override { return folder; }
    void callAt(double at, QObject* context, std::function<void()> then) override
    {
        desktop.callAt(at, context, std::move(then));
    }

    // Moves the clock to the second before this time of day: the fraction of a second
    // stays the wall clock's, so the time comes at the wall clock's next whole second.
    void showJustBefore(const QTime& target) { show(target.addSecs(-1)); }
    // Moves the clock into this second while at least one tick is still to come in it.
    void showWithin(const QTime& target)
    {
        show(QDateTime::currentMSecsSinceEpoch() % 1000 < 400 ? target : target.addSecs(-1));
    }

private:
    void show(const QTime& second)
    {
        const QTime now = QTime::currentTime();
        offsetSeconds = QTime(now.hour(), now.minute(), now.second()).secsTo(second);
    }

public:
    DesktopPlatform desktop;
    QString folder;
    qint64 offsetSeconds = 0;
    int messages = 0;
};

// Notes when each tick of a timer begins to be handled (ticks arrive as posted calls).
class TickWatch : public QObject {
public:
    explicit TickWatch(FormTimer* timer) { timer->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::MetaCall)
            starts.push_back(QDateTime::currentMSecsSinceEpoch());
        return false;
    }
    std::vector<qint64> starts;
};

// The file is in place under its own name: renamed there from the partial name it was
// sent under, or sent straight under it when the server refused the rename.
bool uploaded(const FtpTestServer& server, const QString& file)
{
    for (const QString& c : server.commands())
        if (c == QStringLiteral("STOR ") + file || (c.startsWith(QStringLiteral("RNTO ")) && c.endsWith(u'/' + file)))
            return true;
    return false;
}

// Handles events until the condition holds; false after `seconds`.
template <typename F>
bool waitFor(F condition, double seconds)
{
    const auto until = bench::Clock::now() + std::chrono::milliseconds(static_cast<int>(seconds * 1000));
    while (!condition()) {
        if (bench::Clock::now() > until)
            return false;
        QTest::qWait(1);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    const int cycles = argc > 1 ? std::atoi(argv[1]) : 60;
    QApplication app(argc, argv);

    FtpTestServer server;
    server.makeDir(QStringLiteral("pub"));
    if (!server.start())
        return 1;
    const QByteArray name = server.address();
    ProgramFolder folder("\"" + name + "\",\"user\",\"secret\",\"" + name + "/pub\",\"30\",\"20\"\r\n");
    for (int hour = 0; hour < 24; ++hour)
        folder.writeFile(QStringLiteral("%1.jpg").arg(hour, 2, 10, QLatin1Char('0')), QByteArray(4096, 'c'));
    ShiftedPlatform platform;
    platform.folder = folder.path();
    FTPform form(platform);
    if (!form.Form_Load())
        return 1;
    form.show();
    FTPformTestAccess f(form);
    QPushButton* arm = f.Command4;
    FormTimer* upload = f.Timer4;
    TickWatch watch(upload);
    arm->click();
    if (!upload->running())
        return 1;

    std::vector<double> delays, phases;
    qsizetype uploads = 0;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        const int hour = (10 + cycle) % 24;
        const QString file = QStringLiteral("%1.jpg").arg(hour, 2, 10, QLatin1Char('0'));
        server.clearCommands();

        platform.showWithin(QTime(hour, 30, 10));
        if (!waitFor([&] { return server.commandsStartingWith(QStringLiteral("PASS")) > 0; }, 5)) {
            std::fprintf(stderr, "cycle %d: no connect at %02d:30:10\n", cycle, hour);
            return 1;
        }
        platform.showJustBefore(QTime(hour, 30, 20));
        // The set second begins at the next whole second of the wall clock.
        const qint64 second = (QDateTime::currentMSecsSinceEpoch() / 1000 + 1) * 1000;
        watch.starts.clear();
        if (!waitFor([&] { return server.commandsStartingWith(QStringLiteral("STOR ")) >= 2; }, 5)) {
            std::fprintf(stderr, "cycle %d: not two uploads at %02d:30:20\n", cycle, hour);
            return 1;
        }
        // The first upload tick of the set second.
        qint64 first = -1;
        for (const qint64 start : watch.starts)
            if (start >= second) {
                first = start;
                break;
            }
        for (qint64 t : watch.starts)
            phases.push_back(static_cast<double>(t % 500) / 1e3);
        if (first < 0 || !uploaded(server, file)) {
            std::fprintf(stderr, "cycle %d: no upload of %s\n", cycle, qPrintable(file));
            return 1;
        }
        delays.push_back(static_cast<double>(first - second) / 1e3);
        uploads += server.commandsStartingWith(QStringLiteral("STOR "));

        platform.showWithin(QTime(hour, 30, 30));
        if (!waitFor([&] { return server.commandsStartingWith(QStringLiteral("QUIT")) > 0; }, 5)) {
            std::fprintf(stderr, "cycle %d: no disconnect at %02d:30:30\n", cycle, hour);
            return 1;
        }
    }
    form.close();
    const bench::Stats d = bench::summarise(delays), p = bench::summarise(phases);
    std::printf("hourly upload start, %d cycles on the real timers and clock   median      max (ms)\n", cycles);
    std::printf("  set second to first upload tick      %8.1f %8.1f   (target about 60)\n", d.median * 1e3,
                d.max * 1e3);
    std::printf("  every upload-stage tick after its whole or half second\n");
    std::printf("                                       %8.1f %8.1f   (%zu ticks)\n", p.median * 1e3, p.max * 1e3,
                phases.size());
    std::printf("  uploads per cycle                    %8.2f   (the upload second holds two ticks)\n",
                static_cast<double>(uploads) / cycles);
    std::printf("  message boxes                        %8d\n", platform.messages);
    std::printf("RESULT schedule %.6f %.6f\n", d.median, d.max);
    return 0;
}
