// CPU time the process spends while nothing is due, over a stretch of real time:
//   hourly  the real window with the hourly upload armed for a minute far from now
//   end     the real window inside a program-end wait that ends well after the stretch
//   bare    an empty Qt window of the same size, the reference
// Start-up is left out: the count starts once the state is set up. Run from a copy of
// the runnable folder that holds an ftp.txt.
//
//   bench_idle hourly|end|bare [SECONDS=60]
// prints "IDLE mode cpu_seconds wall_seconds percent_of_one_core"

#include "window/app/ftpForm.h"
#include "window/app/platform.h"

#include "benchutil.h"
#include "formaccess.h"

#include <QApplication>
#include <QTime>
#include <QTimer>

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

struct Window {
    bench::Clock::time_point wallStart;
    double cpuStart = 0;

    void startCount()
    {
        cpuStart = bench::cpuSeconds();
        wallStart = bench::Clock::now();
    }

    // Reports and leaves at once: in the program-end wait the handler's own loop is
    // still on the stack, and unwinding it is not what is being measured.
    [[noreturn]] void report(const char* mode) const
    {
        const double cpu = bench::cpuSeconds() - cpuStart;
        const double wall = bench::seconds(wallStart, bench::Clock::now());
        std::printf("IDLE %s %.4f %.3f %.4f\n", mode, cpu, wall, 100.0 * cpu / wall);
        std::fflush(stdout);
        std::_Exit(0);
    }
};

QString twoDigits(int n)
{
    return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
}

} // namespace

int main(int argc, char** argv)
{
    const char* mode = argc > 1 ? argv[1] : "";
    const int duration = argc > 2 ? std::atoi(argv[2]) : 60;
    if ((std::strcmp(mode, "hourly") != 0 && std::strcmp(mode, "end") != 0 && std::strcmp(mode, "bare") != 0) ||
        duration <= 0) {
        std::fprintf(stderr, "usage: %s hourly|end|bare [SECONDS]\n", argv[0]);
        return 2;
    }
    curl_global_init(CURL_GLOBAL_DEFAULT);
    QApplication app(argc, argv);
    Window count;

    if (std::strcmp(mode, "bare") == 0) {
        QWidget window;
        window.resize(576, 358);
        window.show();
        QTimer::singleShot(0, [&] { count.startCount(); });
        QTimer::singleShot(duration * 1000, [&] { count.report(mode); });
        return QApplication::exec();
    }

    DesktopPlatform platform;
    FTPform form(platform);
    if (!form.Form_Load())
        return 1;
    form.show();
    FTPformTestAccess f(form);

    if (std::strcmp(mode, "hourly") == 0) {
        // Half an hour away from now, so no stage of a cycle falls inside the stretch.
        const QTime now = QTime::currentTime();
        f.Text8->setText(twoDigits((now.minute() + 30) % 60));
        f.Text6->setText(QStringLiteral("30"));
        QTimer::singleShot(0, [&] {
            f.Command4->click();
            if (!f.Timer4->running()) {
                std::fprintf(stderr, "the hourly upload did not arm\n");
                std::_Exit(1);
            }
            count.startCount();
        });
    } else {
        // Ends a minute after the stretch (two minutes at least), so the wait is still
        // running when the count is read.
        const QTime end = QTime::currentTime().addSecs(std::max(120, duration + 60));
        f.Text11->setText(twoDigits(end.hour()));
        f.Text10->setText(twoDigits(end.minute()));
        f.Text9->setText(twoDigits(end.second()));
        QTimer::singleShot(0, [&] {
            count.startCount();
            f.Command3->click(); // the wait runs on as a deadline
        });
    }
    QTimer::singleShot(duration * 1000, [&] {
        if (std::strcmp(mode, "end") == 0 && f.Label10->text().isEmpty()) {
            std::fprintf(stderr, "the program-end wait is not running\n");
            std::_Exit(1);
        }
        count.report(mode);
    });
    return QApplication::exec();
}
