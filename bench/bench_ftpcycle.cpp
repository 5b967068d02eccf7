// Times the hourly upload cycle (open, connect, change folder, upload, close) done
// through the program's FTP layer, and the same work done by the curl command line,
// against one local server. Started by run_ftpcycle.sh, which owns the server.
//
//   bench_ftpcycle PORT USER PASSWORD SMALLFILE BIGFILE [ROUNDS]

#include "ftp/modWinInet.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

struct Stats {
    double median, min, max;
};

Stats summarise(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v.front(), v.back()};
}

bool cycle(const std::string& server, const char* user, const char* password, const char* file)
{
    const HINTERNET hi = InternetOpenA("vb wininet", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    const HINTERNET hFtp =
        InternetConnectA(hi, server.c_str(), 0, user, password, INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0);
    const bool ok = hFtp && FtpSetCurrentDirectoryA(hFtp, "/up") &&
                    FtpPutFileA(hFtp, file, "bench.bin", FTP_TRANSFER_TYPE_BINARY, 0);
    if (!ok)
        std::fprintf(stderr, "cycle failed: %u\n", GetLastError());
    InternetCloseHandle(hFtp);
    InternetCloseHandle(hi);
    return ok;
}

bool curlCycle(const std::string& port, const char* user, const char* password, const char* file)
{
    const std::string cmd = std::string("curl -s -S --noproxy '*' -T '") + file + "' 'ftp://" + user + ":" + password +
                            "@127.0.0.1:" + port + "/up/'";
    return std::system(cmd.c_str()) == 0;
}

template <typename F>
Stats timeRounds(int rounds, F&& f)
{
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        const auto a = Clock::now();
        if (!f())
            std::exit(1);
        times.push_back(seconds(a, Clock::now()));
    }
    return summarise(times);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 6) {
        std::fprintf(stderr, "usage: %s PORT USER PASSWORD SMALLFILE BIGFILE [ROUNDS]\n", argv[0]);
        return 2;
    }
    const std::string port = argv[1];
    const char* user = argv[2];
    const char* password = argv[3];
    const char* small = argv[4];
    const char* big = argv[5];
    const int rounds = argc > 6 ? std::atoi(argv[6]) : 50;
    const std::string server = "127.0.0.1:" + port;

    // Interleaving the two keeps a slow phase of the machine from favouring either side.
    std::vector<double> ours, theirs;
    for (int i = 0; i < rounds; ++i) {
        auto a = Clock::now();
        if (!cycle(server, user, password, small))
            return 1;
        ours.push_back(seconds(a, Clock::now()));
        a = Clock::now();
        if (!curlCycle(port, user, password, small))
            return 1;
        theirs.push_back(seconds(a, Clock::now()));
    }
    const Stats o = summarise(ours), t = summarise(theirs);
    std::printf("cycle, 1 MB, %d rounds   median      min      max (ms)\n", rounds);
    std::printf("  skylark             %8.2f %8.2f %8.2f\n", o.median * 1e3, o.min * 1e3, o.max * 1e3);
    std::printf("  curl command line   %8.2f %8.2f %8.2f\n", t.median * 1e3, t.min * 1e3, t.max * 1e3);
    std::printf("  ratio skylark/curl  %8.3f   (target <= 1.1)\n", o.median / t.median);

    FILE* f = std::fopen(big, "rb");
    if (!f)
        return 1;
    std::fseek(f, 0, SEEK_END);
    const double mb = static_cast<double>(std::ftell(f)) / (1024.0 * 1024.0);
    std::fclose(f);
    std::vector<double> oursBig, theirsBig;
    for (int i = 0; i < 5; ++i) {
        oursBig.push_back(timeRounds(1, [&] { return cycle(server, user, password, big); }).min);
        theirsBig.push_back(timeRounds(1, [&] { return curlCycle(port, user, password, big); }).min);
    }
    const Stats ob = summarise(oursBig), tb = summarise(theirsBig);
    std::printf("upload %.0f MB, best of 5, interleaved   MB/s\n", mb);
    std::printf("  skylark             %8.1f\n", mb / ob.min);
    std::printf("  curl command line   %8.1f\n", mb / tb.min);
    std::printf("  ratio skylark/curl  %8.3f   (target >= 0.9)\n", tb.min / ob.min);
    return 0;
}
