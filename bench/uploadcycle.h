#pragma once
// The upload cycle through the program's FTP layer and its comparison with the curl
// command line doing the same work, shared by the plain and the secure benchmark.

#include "benchutil.h"
#include "ftp/modWinInet.h"

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace bench {

// Open, connect, change folder, upload, close: what one hour costs.
inline bool layerCycle(const std::string& server, const char* user, const char* password, const char* file)
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

// Times ROUNDS cycles of the small file and five of the big one, each of ours followed
// by one of curl's (interleaving keeps a slow phase of the machine from favouring either
// side), and prints both tables headed by LABEL. Exit status for main().
inline int compareWithCurl(const std::string& label, const std::string& server, const char* user, const char* password,
                           const char* small, const char* big, int rounds,
                           const std::function<bool(const char* file)>& curl)
{
    const auto timed = [](auto&& run, std::vector<double>& into) {
        const auto a = Clock::now();
        const bool ok = run();
        into.push_back(seconds(a, Clock::now()));
        return ok;
    };
    std::vector<double> ours, theirs;
    for (int i = 0; i < rounds; ++i)
        if (!timed([&] { return layerCycle(server, user, password, small); }, ours) ||
            !timed([&] { return curl(small); }, theirs))
            return 1;
    const Stats o = summarise(ours), t = summarise(theirs);
    std::printf("%scycle, 1 MB, %d rounds   median      min      max (ms)\n", label.c_str(), rounds);
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
    for (int i = 0; i < 5; ++i)
        if (!timed([&] { return layerCycle(server, user, password, big); }, oursBig) ||
            !timed([&] { return curl(big); }, theirsBig))
            return 1;
    const Stats ob = summarise(oursBig), tb = summarise(theirsBig);
    std::printf("%supload %.0f MB, best of 5, interleaved   MB/s\n", label.c_str(), mb);
    std::printf("  skylark             %8.1f\n", mb / ob.min);
    std::printf("  curl command line   %8.1f\n", mb / tb.min);
    std::printf("  ratio skylark/curl  %8.3f   (target >= 0.9)\n", tb.min / ob.min);
    return 0;
}

} // namespace bench
