// How late in its second the hourly upload starts. The stage timers tick every 500 ms
// from whenever the upload was armed, so their phase against the clock's seconds is
// arbitrary; each simulated cycle draws a new phase, steps the window's clock in 500 ms
// ticks across the cycle (connect, upload, disconnect) as the real timers would, and
// notes the first tick after which the local pyftpdlib server had received the STOR.
// The clock is simulated, so this measures the window's choice of tick, not the
// operating system's timer latency; the real time the upload tick took is shown apart.
//
//   bench_schedule [CYCLES=240] [SEED=1]

#include "benchutil.h"
#include "formharness.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <random>

namespace {

qsizetype storCount(const FtpTestServer& server)
{
    qsizetype n = 0;
    for (const QString& c : server.commands())
        n += c.startsWith(QLatin1String("STOR ")) ? 1 : 0;
    return n;
}

} // namespace

int main(int argc, char** argv)
{
    const int cycles = argc > 1 ? std::atoi(argv[1]) : 240;
    const unsigned seed = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 1u;
    QApplication app(argc, argv);

    FormHarness h; // ftp.txt sets the upload to minute 30, second 20
    h.server.makeDir(QStringLiteral("pub"));
    for (int hour = 0; hour < 24; ++hour)
        h.folder.writeFile(QStringLiteral("%1.jpg").arg(hour, 2, 10, QLatin1Char('0')), QByteArray(4096, 'c'));
    if (!h.start())
        return 1;
    FTPform& f = *h.form;
    f.Command4_Click();
    if (!f.Timer4->running())
        return 1;

    std::mt19937 random(seed);
    std::uniform_int_distribution<int> phaseMs(0, 499);
    std::vector<double> delays, tickTimes;
    qsizetype uploads = 0;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        const int hour = (10 + cycle) % 24;
        const int phase = phaseMs(random);
        h.server.clearCommands();
        h.platform.setTime(hour, 30, 5, phase);
        const double secondStart = h.platform.monotonicSeconds() + 15.0 - phase / 1000.0;
        double delay = 0;
        bool found = false;
        for (int step = 0; step < 2 * 26; ++step) {
            h.platform.advance(0.5);
            // Started together by the arming, the stage timers tick in the order it
            // started them; the clock's own 1 s timer ticks on every other step.
            if (step % 2 == 0)
                emit f.Timer3->timeout();
            emit f.Timer7->timeout();
            emit f.Timer6->timeout();
            emit f.Timer5->timeout();
            const auto a = bench::Clock::now();
            emit f.Timer4->timeout();
            const double took = bench::seconds(a, bench::Clock::now());
            const double now = h.platform.monotonicSeconds();
            if (!found && now > secondStart - 1 && now < secondStart + 2 && storCount(h.server) > 0) {
                found = true;
                delay = now - secondStart;
                tickTimes.push_back(took);
            }
        }
        const QString expected = QStringLiteral("STOR %1.jpg").arg(hour, 2, 10, QLatin1Char('0'));
        if (!found || !h.server.commands().contains(expected) || f.bConnected) {
            std::fprintf(stderr, "cycle %d (%02d:30:20, phase %d ms): no upload of %s, or still connected\n", cycle,
                         hour, phase, qPrintable(expected));
            return 1;
        }
        uploads += storCount(h.server);
        delays.push_back(delay);
    }
    const bench::Stats d = bench::summarise(delays), t = bench::summarise(tickTimes);
    std::printf("hourly upload start, %d simulated cycles, random tick phase   median      max (ms)\n", cycles);
    std::printf("  set second to first upload tick      %8.1f %8.1f   (bound < 500)\n", d.median * 1e3, d.max * 1e3);
    std::printf("  real time of that tick (CWD + STOR)  %8.2f %8.2f\n", t.median * 1e3, t.max * 1e3);
    std::printf("  uploads per cycle                    %8.2f   (the upload second holds two ticks)\n",
                static_cast<double>(uploads) / cycles);
    std::printf("RESULT schedule %.6f %.6f\n", d.median, d.max);
    return 0;
}
