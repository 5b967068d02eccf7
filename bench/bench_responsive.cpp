// How long the window's event loop goes without turning while the network is slow: a
// 50 ms probe timer on the window's thread and the longest it came late, during a slow
// connect (every reply 1.2 s late) and a 10 s upload (read at 150 kB/s) made with the
// window's own buttons, beside the same probe on the same window idle beforehand.
//
//   bench_responsive [IDLE_SECONDS=5]

#include "benchutil.h"
#include "formharness.h"
#include "testfiles.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace {

// The longest a 50 ms timer came after its time, since the last reset.
class LoopProbe {
public:
    LoopProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(kIntervalMs);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            m_latest = std::max(m_latest, m_since.nsecsElapsed() / 1e6 - kIntervalMs);
            m_since.restart();
        });
        m_since.start();
        m_timer.start();
    }
    double takeLatestMs()
    {
        const double latest = m_latest;
        m_latest = 0;
        return latest;
    }

private:
    static constexpr int kIntervalMs = 50;
    QTimer m_timer;
    QElapsedTimer m_since;
    double m_latest = 0;
};

// Lets the event loop run until the window has no call under way.
bool untilIdle(FTPformTestAccess& f)
{
    const auto until = bench::Clock::now() + std::chrono::seconds(120);
    do {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        if (bench::Clock::now() > until)
            return false;
    } while (!f.idle());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    const int idleSeconds = argc > 1 ? std::atoi(argv[1]) : 5;
    QApplication app(argc, argv);
    FtpTestServerOptions slow;
    slow.delaySeconds = 1.2;
    slow.uploadRate = 150000;
    FormHarness h(slow);
    h.server.makeDir(QStringLiteral("pub"));
    h.folder.writeFile(QStringLiteral("10.jpg"), randomBytes(1500000));
    if (!h.start())
        return 1;
    FTPformTestAccess& f = h.f();
    f.Text5->setText(h.folder.filePath(QStringLiteral("10.jpg")));

    LoopProbe probe;
    const auto idleUntil = bench::Clock::now() + std::chrono::seconds(idleSeconds);
    while (bench::Clock::now() < idleUntil)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const double idle = probe.takeLatestMs();

    auto a = bench::Clock::now();
    f.cmdConnect->click();
    if (!untilIdle(f) || !f.connected()) {
        std::fprintf(stderr, "the slow connect did not come through\n");
        return 1;
    }
    const double connectSeconds = bench::seconds(a, bench::Clock::now());
    const double duringConnect = probe.takeLatestMs();

    a = bench::Clock::now();
    f.Command5->click();
    if (!untilIdle(f) || h.platform.messages != QStringList{QStringLiteral("転送しました")}) {
        std::fprintf(stderr, "the slow upload did not come through: %s\n", qPrintable(h.platform.messages.join(u'|')));
        return 1;
    }
    const double uploadSeconds = bench::seconds(a, bench::Clock::now());
    const double duringUpload = probe.takeLatestMs();

    std::printf("the window's event loop while the network is slow: longest a 50 ms probe came late (ms)\n");
    std::printf("  slow connect (%.1f s)      %8.1f\n", connectSeconds, duringConnect);
    std::printf("  slow upload (%.1f s)       %8.1f\n", uploadSeconds, duringUpload);
    std::printf("  idle window (%d s)          %8.1f\n", idleSeconds, idle);
    std::printf("  target                     %8.1f\n", 50.0);
    std::printf("RESULT responsive %.6f %.6f\n", std::max(duringConnect, duringUpload) / 1e3, idle / 1e3);
    return 0;
}
