// Times the hourly upload cycle (open, connect, change folder, 1 MB upload, close) and a
// 100 MB upload through the program's FTP layer over ftpes or sftp, and the same work
// done by the curl command line, against one local server. Started by
// run_securecycle.sh, which owns the servers.
//
//   bench_securecycle SERVERNAME USER PASSWORD TRUSTFOLDER SMALLFILE BIGFILE ROUNDS CURLTRUST
//
// SERVERNAME carries the scheme ("ftpes://127.0.0.1:4321"); TRUSTFOLDER holds
// ftp-ca.pem or known_hosts; CURLTRUST is what the curl command line needs to trust the
// same server ("--cacert cert.pem" or "--hostpubsha256 ...").

#include "ftp/modWinInet.h"
#include "ftp/secureOptions.h"

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

// The command line does what a user of curl would write for the same job: TLS required
// (and 1.2, as the layer asks), or the server's key pinned.
bool curlCycle(const std::string& server, const char* user, const char* password, const char* file,
               const std::string& trust)
{
    const bool sftp = server.rfind("sftp://", 0) == 0;
    const std::string hostPort = server.substr(server.find("://") + 3);
    const std::string url = std::string(sftp ? "sftp://" : "ftp://") + user + ":" + password + "@" + hostPort + "/up/";
    const std::string tls = sftp ? "" : " --ssl-reqd --tlsv1.2 --tls-max 1.2";
    const std::string cmd = "curl -s -S --noproxy '*'" + tls + " " + trust + " -T '" + file + "' '" + url + "'";
    return std::system(cmd.c_str()) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 9) {
        std::fprintf(stderr, "usage: %s SERVERNAME USER PASSWORD TRUSTFOLDER SMALLFILE BIGFILE ROUNDS CURLTRUST\n",
                     argv[0]);
        return 2;
    }
    const std::string server = argv[1];
    const char* user = argv[2];
    const char* password = argv[3];
    SetTrustFolder(argv[4]);
    const char* small = argv[5];
    const char* big = argv[6];
    const int rounds = std::max(1, std::atoi(argv[7]));
    const std::string trust = argv[8];
    const std::string scheme = server.substr(0, server.find("://"));

    // Interleaving the two keeps a slow phase of the machine from favouring either side.
    std::vector<double> ours, theirs;
    for (int i = 0; i < rounds; ++i) {
        auto a = Clock::now();
        if (!cycle(server, user, password, small))
            return 1;
        ours.push_back(seconds(a, Clock::now()));
        a = Clock::now();
        if (!curlCycle(server, user, password, small, trust))
            return 1;
        theirs.push_back(seconds(a, Clock::now()));
    }
    const Stats o = summarise(ours), t = summarise(theirs);
    std::printf("%s cycle, 1 MB, %d rounds   median      min      max (ms)\n", scheme.c_str(), rounds);
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
        auto a = Clock::now();
        if (!cycle(server, user, password, big))
            return 1;
        oursBig.push_back(seconds(a, Clock::now()));
        a = Clock::now();
        if (!curlCycle(server, user, password, big, trust))
            return 1;
        theirsBig.push_back(seconds(a, Clock::now()));
    }
    const Stats ob = summarise(oursBig), tb = summarise(theirsBig);
    std::printf("%s upload %.0f MB, best of 5, interleaved   MB/s\n", scheme.c_str(), mb);
    std::printf("  skylark             %8.1f\n", mb / ob.min);
    std::printf("  curl command line   %8.1f\n", mb / tb.min);
    std::printf("  ratio skylark/curl  %8.3f   (target >= 0.9)\n", tb.min / ob.min);
    return 0;
}
