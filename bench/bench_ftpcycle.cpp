// Times the hourly upload cycle (open, connect, change folder, upload, close) done
// through the program's FTP layer, and the same work done by the curl command line,
// against one local server. Started by run_ftpcycle.sh, which owns the server.
//
//   bench_ftpcycle PORT USER PASSWORD SMALLFILE BIGFILE [ROUNDS]

#include "uploadcycle.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 6) {
        std::fprintf(stderr, "usage: %s PORT USER PASSWORD SMALLFILE BIGFILE [ROUNDS]\n", argv[0]);
        return 2;
    }
    const std::string port = argv[1];
    const char* user = argv[2];
    const char* password = argv[3];
    const int rounds = argc > 6 ? std::max(1, std::atoi(argv[6])) : 50;
    return bench::compareWithCurl(
        {}, "127.0.0.1:" + port, user, password, argv[4], argv[5], rounds, [&](const char* file) {
            const std::string cmd = std::string("curl -s -S --noproxy '*' -T '") + file + "' 'ftp://" + user + ":" +
                                    password + "@127.0.0.1:" + port + "/up/'";
            return std::system(cmd.c_str()) == 0;
        });
}
