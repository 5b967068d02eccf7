#pragma once
// The upload cycle as the window makes it, through the session's thread, and its
// comparison with the curl command line doing the same work (and, where given, with a
// minimal libcurl client in this process, the floor), shared by the plain and the
// secure benchmark.

#include "core/base/task.h"
#include "core/ftp/sessionThread.h"

#include "benchutil.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace bench {

// What the curl command line adds to an upload to "bench.bin.part" so that it does what
// the session does: replace the file by renaming it in place once it is all there.
inline const std::string kCurlRename = " -Q '-RNFR bench.bin.part' -Q '-RNTO bench.bin'";
inline const std::string kCurlSftpRename = " -Q '-*rm /up/bench.bin' -Q '-rename /up/bench.bin.part /up/bench.bin'";

// Connect, change folder, upload, disconnect: what one hour costs, with every call made
// on the session's thread and every answer waited for on this one, as the window does.
class SessionCycle {
public:
    SessionCycle()
    {
        // The events are the log's business; writing them to standard error is not
        // what is timed here.
        QLoggingCategory::setFilterRules(QStringLiteral("skylark.events=false"));
        m_session.openInternetNow(QString());
    }

    bool run(const std::string& server, const char* user, const char* password, const char* file)
    {
        bool ok = false;
        TaskSet tasks;
        tasks.start(cycle(QString::fromStdString(server), QString::fromUtf8(user), QString::fromUtf8(password),
                          QString::fromLocal8Bit(file), ok));
        while (tasks.size() > 0)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (!ok)
            std::fprintf(stderr, "cycle failed\n");
        return ok;
    }

private:
    Task<> cycle(QString server, QString user, QString password, QString file, bool& ok)
    {
        const std::optional<FtpFailure> refused = co_await m_session.connect(server, user, password, true);
        if (refused)
            co_return;
        const bool changed = !co_await m_session.changeFolder(QStringLiteral("/up"));
        const std::optional<FtpFailure> failed =
            co_await m_session.putFile(file, QStringLiteral("bench.bin"), wininet::FTP_TRANSFER_TYPE_BINARY);
        co_await m_session.disconnect();
        ok = changed && !failed;
    }

    SessionThread m_session;
};

using Cycle = std::function<bool(const char* file)>;

// Times ROUNDS cycles of the small file and five of the big one, each of ours followed
// by one of curl's command line and, when a floor is given, one of the floor client
// (interleaving keeps a slow phase of the machine from favouring either side), and
// prints the tables headed by LABEL. Exit status for main().
inline int compareWithCurl(const std::string& label, const std::string& server, const char* user, const char* password,
                           const char* small, const char* big, int rounds, const Cycle& curl, const Cycle& floor = {})
{
    const auto timed = [](auto&& run, std::vector<double>& into) {
        const auto a = Clock::now();
        const bool ok = run();
        into.push_back(seconds(a, Clock::now()));
        return ok;
    };
    SessionCycle session;
    const auto ours = [&](const char* file) { return session.run(server, user, password, file); };
    std::vector<double> mine, theirs, lowest;
    for (int i = 0; i < rounds; ++i)
        if (!timed([&] { return ours(small); }, mine) || !timed([&] { return curl(small); }, theirs) ||
            (floor && !timed([&] { return floor(small); }, lowest)))
            return 1;
    const Stats o = summarise(mine), t = summarise(theirs);
    std::printf("%scycle, 1 MB, %d rounds   median      min      max (ms)\n", label.c_str(), rounds);
    std::printf("  skylark             %8.2f %8.2f %8.2f\n", o.median * 1e3, o.min * 1e3, o.max * 1e3);
    std::printf("  curl command line   %8.2f %8.2f %8.2f\n", t.median * 1e3, t.min * 1e3, t.max * 1e3);
    if (floor) {
        const Stats l = summarise(lowest);
        std::printf("  libcurl in-process  %8.2f %8.2f %8.2f\n", l.median * 1e3, l.min * 1e3, l.max * 1e3);
    }
    std::printf("  ratio skylark/curl  %8.3f   (target <= 1.1)\n", o.median / t.median);
    if (floor)
        std::printf("  ratio skylark/libcurl in-process %6.3f   (target <= 1.2)\n",
                    o.median / summarise(lowest).median);

    FILE* f = std::fopen(big, "rb");
    if (!f)
        return 1;
    std::fseek(f, 0, SEEK_END);
    const double mb = static_cast<double>(std::ftell(f)) / (1024.0 * 1024.0);
    std::fclose(f);
    std::vector<double> mineBig, theirsBig;
    for (int i = 0; i < 5; ++i)
        if (!timed([&] { return ours(big); }, mineBig) || !timed([&] { return curl(big); }, theirsBig))
            return 1;
    const Stats ob = summarise(mineBig), tb = summarise(theirsBig);
    std::printf("%supload %.0f MB, best of 5, interleaved   MB/s\n", label.c_str(), mb);
    std::printf("  skylark             %8.1f\n", mb / ob.min);
    std::printf("  curl command line   %8.1f\n", mb / tb.min);
    std::printf("  ratio skylark/curl  %8.3f   (target >= 0.9)\n", tb.min / ob.min);
    return 0;
}

} // namespace bench
