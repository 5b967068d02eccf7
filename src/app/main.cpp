#include "app/ftpForm.h"
#include "app/platform.h"

#include <QApplication>

#include <curl/curl.h>

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
    const int rc = QApplication::exec();
    curl_global_cleanup();
    return rc;
}
