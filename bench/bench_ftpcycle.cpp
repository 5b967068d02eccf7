// Times the hourly upload cycle (connect, change folder, upload under a temporary name
// and rename, disconnect) made the way the window makes it, through the session's
// thread, beside the same work done by the curl command line and by a minimal libcurl
// client in this process, against one local server. Started by run_ftpcycle.sh, which
// owns the server.
//
//   bench_ftpcycle PORT USER PASSWORD SMALLFILE BIGFILE [ROUNDS]

#include "uploadcycle.h"

#include <QCoreApplication>

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The floor: the same login, change into /up, upload under the temporary name, rename
// and goodbye on one easy handle, as little as a libcurl client can do for it.
bool libcurlCycle(const std::string& url, const char* user, const char* password, const char* file)
{
    std::FILE* in = std::fopen(file, "rb");
    if (!in)
        return false;
    std::fseek(in, 0, SEEK_END);
    const long size = std::ftell(in);
    std::rewind(in);
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_USERNAME, user);
    curl_easy_setopt(curl, CURLOPT_PASSWORD, password);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_READDATA, in);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
    curl_slist* rename = curl_slist_append(nullptr, "RNFR bench.bin.part");
    rename = curl_slist_append(rename, "RNTO bench.bin");
    curl_easy_setopt(curl, CURLOPT_POSTQUOTE, rename);
    const CURLcode rc = curl_easy_perform(curl);
    curl_easy_cleanup(curl); // QUIT
    curl_slist_free_all(rename);
    std::fclose(in);
    return rc == CURLE_OK;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 6) {
        std::fprintf(stderr, "usage: %s PORT USER PASSWORD SMALLFILE BIGFILE [ROUNDS]\n", argv[0]);
        return 2;
    }
    QCoreApplication app(argc, argv);
    const std::string port = argv[1];
    const char* user = argv[2];
    const char* password = argv[3];
    const int rounds = argc > 6 ? std::max(1, std::atoi(argv[6])) : 50;
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const std::string url = "ftp://127.0.0.1:" + port + "/up/bench.bin.part";
    const int status = bench::compareWithCurl(
        {}, "127.0.0.1:" + port, user, password, argv[4], argv[5], rounds,
        [&](const char* file) {
            const std::string cmd = std::string("curl -s -S --noproxy '*' -T '") + file + "' 'ftp://" + user + ":" +
                                    password + "@127.0.0.1:" + port + "/up/bench.bin.part'" + bench::kCurlRename;
            return std::system(cmd.c_str()) == 0;
        },
        [&](const char* file) { return libcurlCycle(url, user, password, file); });
    curl_global_cleanup();
    return status;
}
