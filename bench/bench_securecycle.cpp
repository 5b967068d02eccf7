// Times the hourly upload cycle (connect, change folder, 1 MB upload, disconnect) and a
// 100 MB upload made the way the window makes them, through the session's thread, over
// ftpes or sftp, and the same work done by the curl command line, against one local
// server. Started by run_securecycle.sh, which owns the servers.
//
//   bench_securecycle SERVERNAME USER PASSWORD TRUSTFOLDER SMALLFILE BIGFILE ROUNDS CURLTRUST
//
// SERVERNAME carries the scheme ("ftpes://127.0.0.1:4321"); TRUSTFOLDER holds
// ftp-ca.pem or known_hosts; CURLTRUST is what the curl command line needs to trust the
// same server ("--cacert cert.pem" or "--hostpubsha256 ...").

#include "core/ftp/secureOptions.h"

#include "uploadcycle.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 9) {
        std::fprintf(stderr, "usage: %s SERVERNAME USER PASSWORD TRUSTFOLDER SMALLFILE BIGFILE ROUNDS CURLTRUST\n",
                     argv[0]);
        return 2;
    }
    QCoreApplication app(argc, argv);
    const std::string server = argv[1];
    const char* user = argv[2];
    const char* password = argv[3];
    setTrustFolder(argv[4]);
    const int rounds = std::max(1, std::atoi(argv[7]));
    const std::string trust = argv[8];
    const bool sftp = server.rfind("sftp://", 0) == 0;
    const std::string hostPort = server.substr(server.find("://") + 3);
    const std::string url =
        std::string(sftp ? "sftp://" : "ftp://") + user + ":" + password + "@" + hostPort + "/up/bench.bin.part";
    const std::string rename = sftp ? bench::kCurlSftpRename : bench::kCurlRename;
    // The command line does what a user of curl would write for the same job: TLS
    // required (and 1.2, as the layer asks), or the server's key pinned.
    const std::string tls = sftp ? "" : " --ssl-reqd --tlsv1.2 --tls-max 1.2";
    return bench::compareWithCurl(server.substr(0, server.find("://")) + " ", server, user, password, argv[5], argv[6],
                                  rounds, [&](const char* file) {
                                      const std::string cmd = "curl -s -S --noproxy '*'" + tls + " " + trust + " -T '" +
                                                              file + "' '" + url + "'" + rename;
                                      return std::system(cmd.c_str()) == 0;
                                  });
}
