// A machine where libcurl cannot be loaded: the window still starts, and a connection is
// refused the way a failing libcurl refuses it, instead of the process crashing.
#include "core/base/lazyCurl.h"
#include "core/ftp/modWinInet.h"

#include "formharness.h"

#include <QTest>

#include <curl/curl.h>

using namespace wininet;

class TestNoCurl : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { lazycurl::setLibraryNameForTesting("libskylark-no-such-curl.so.4"); }

    void theWindowStartsAndConnectFails()
    {
        FormHarness h;
        QVERIFY(h.start());
        QVERIFY(h.platform.messages.isEmpty());
        h.f().click(h.f().cmdConnect);
        QVERIFY(!h.f().session().connected());
        QVERIFY(!lazycurl::loaded());
        QCOMPARE(h.platform.endCalls, 0);
    }

    void theEntryPointsAnswerAsAFailingLibcurl()
    {
        const HINTERNET hi = InternetOpenA("t", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        QVERIFY(hi);
        QCOMPARE(InternetConnectA(hi, "127.0.0.1:21", 0, "u", "p", INTERNET_SERVICE_FTP, 0, 0), 0);
        QCOMPARE(GetLastError(), ERROR_INTERNET_INTERNAL_ERROR);
        QVERIFY(InternetCloseHandle(hi));

        QCOMPARE(curl_easy_init(), nullptr);
        QCOMPARE(curl_easy_setopt(nullptr, CURLOPT_VERBOSE, 1L), CURLE_FAILED_INIT);
        QCOMPARE(curl_easy_perform(nullptr), CURLE_FAILED_INIT);
        QCOMPARE(curl_slist_append(nullptr, "x"), nullptr);
        QVERIFY(curl_easy_strerror(CURLE_OK) != nullptr);
        curl_easy_cleanup(nullptr);
        curl_slist_free_all(nullptr);
    }
};

QTEST_MAIN(TestNoCurl)
#include "test_nocurl.moc"
