// Start-up of the real window, as main() does it (the desktop platform, the load event,
// show), ending on the first turn of the event loop: by then the window has been shown.
// Run from a copy of the runnable folder that holds an ftp.txt, like the program itself.
//
//   bench_startup [--memory]

#include "app/ftpForm.h"
#include "app/platform.h"
#include "benchutil.h"

#include <QApplication>
#include <QTimer>

#include <curl/curl.h>

#include <cstring>

int main(int argc, char** argv)
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Skylark"));

    DesktopPlatform platform;
    FTPform form(platform);
    if (!form.Form_Load())
        return 1;
    form.show();
    QTimer::singleShot(0, &app, &QCoreApplication::quit);
    const int rc = QApplication::exec();
    if (argc > 1 && std::strcmp(argv[1], "--memory") == 0)
        bench::printMemory();
    curl_global_cleanup();
    return rc;
}
