// libcurl comes into the process with the first connection, not at start-up: the window
// starts without it, and once it is there every kind of option value reaches it intact.
#include "core/base/lazyCurl.h"
#include "core/ftp/modWinInet.h"

#include "formharness.h"

#include <QTemporaryDir>
#include <QTest>

#include <curl/curl.h>
#include <dlfcn.h>

using namespace wininet;

namespace {

// Asks the dynamic loader itself, so a link line that brings libcurl back in is caught
// as well as a call that loads it early.
bool libcurlMapped()
{
    void* handle = dlopen("libcurl.so.4", RTLD_LAZY | RTLD_NOLOAD);
    if (handle)
        dlclose(handle);
    return handle != nullptr;
}

} // namespace

class TestLazyCurl : public QObject {
    Q_OBJECT
private slots:
    void startUpLeavesLibcurlOutThenConnectBringsItIn()
    {
        FormHarness h;
        QVERIFY(h.start()); // loaded, shown and exposed
        QVERIFY(!lazycurl::loaded());
        QVERIFY(!libcurlMapped());
        // Handing nothing back does not bring the library in either.
        curl_easy_cleanup(nullptr);
        curl_slist_free_all(nullptr);
        curl_free(nullptr);
        QVERIFY(!libcurlMapped());

        h.f().click(h.f().cmdConnect);
        QVERIFY(h.f().session().connected());
        QVERIFY(lazycurl::loaded());
        QVERIFY(libcurlMapped());
    }

    // Strings and pointers, longs, callbacks and a 64-bit file size each travel their own
    // way through the variadic setopt; an upload whose size is known uses all four, and
    // the entry path read back at connect goes through getinfo.
    void everyKindOfOptionValueArrives()
    {
        FtpTestServer server;
        QVERIFY(server.makeDir(QStringLiteral("up")));
        QVERIFY(server.start());
        QTemporaryDir dir;
        const QString local = dir.filePath(QStringLiteral("big.bin"));
        QByteArray data(3 * 1024 * 1024 + 17, '\0');
        for (qsizetype i = 0; i < data.size(); ++i)
            data[i] = char(i * 31 % 251);
        QFile file(local);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(data) == data.size());
        file.close();

        const HINTERNET hi = InternetOpenA("t", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        const HINTERNET hFtp = InternetConnectA(hi, server.address().constData(), 0, "user", "secret",
                                                INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0);
        QVERIFY2(hFtp, qPrintable(QString::number(GetLastError())));
        QVERIFY(FtpSetCurrentDirectoryA(hFtp, "/up"));
        QVERIFY(FtpPutFileA(hFtp, local.toLocal8Bit().constData(), "big.bin", FTP_TRANSFER_TYPE_BINARY, 0));
        QFile uploaded(server.path(QStringLiteral("up/big.bin")));
        QVERIFY(uploaded.open(QIODevice::ReadOnly));
        QCOMPARE(uploaded.readAll(), data);
        QVERIFY(InternetCloseHandle(hFtp));
        QVERIFY(InternetCloseHandle(hi));
    }
};

QTEST_MAIN(TestLazyCurl)
#include "test_lazycurl.moc"
