// Listing parsers and remote addressing: the pure rules under the FTP calls.
#include "core/ftp/ftpListing.h"
#include "core/ftp/serverAddress.h"

#include <QtTest>

#include <cstring>

namespace {
QString names(const std::vector<FtpListEntry>& entries)
{
    QStringList out;
    for (const auto& e : entries)
        out << QString::fromStdString(e.name) + (e.isDirectory ? "/" : "");
    return out.join('|');
}
} // namespace

class TestFtpListing : public QObject {
    Q_OBJECT
private slots:
    void unixListing()
    {
        const std::string text = "total 12\r\n"
                                 "drwxr-xr-x   2 user     group        4096 Jan 05 10:00 pub\r\n"
                                 "-rw-r--r--   1 user     group     5000000000 Dec 07  2023 two  spaces .jpg\r\n"
                                 "lrwxrwxrwx   1 user     group          11 Mar 01 09:30 latest -> pub/a.jpg\r\n"
                                 "crw-rw-rw-   1 root     root       1,   3 Feb 14 12:00 null\r\n"
                                 "-rw-r--r--   1 owner   123 Apr  1 08:00 nogroup.txt\n"
                                 "drwxr-xr-x   2 user     group        4096 Jan 05 10:00 .\r\n"
                                 "drwxr-xr-x   2 user     group        4096 Jan 05 10:00 ..\r\n"
                                 "-rw-r--r--   1 user     group          10 Jan 05 10:00 写真 2024.jpg\r\n"
                                 "garbage line\r\n";
        const auto entries = parseListListing(text);
        QCOMPARE(names(entries), QString("pub/|two  spaces .jpg|latest|null|nogroup.txt|写真 2024.jpg"));
        QCOMPARE(entries[1].size, std::uint64_t(5000000000ULL));
        QCOMPARE(entries[4].size, std::uint64_t(123));
    }

    void dosListing()
    {
        const std::string text = "01-01-24  10:00AM       <DIR>          Camera Shots\r\n"
                                 "12-31-2023  11:59PM             123456 image 1.jpg\r\n"
                                 "02-03-24  14:05                    7 plain24h.txt\r\n"
                                 "01-01-24  10:00AM       <DIR>          .\r\n";
        const auto entries = parseListListing(text);
        QCOMPARE(names(entries), QString("Camera Shots/|image 1.jpg|plain24h.txt"));
        QCOMPARE(entries[1].size, std::uint64_t(123456));
    }

    void mlsdListing()
    {
        const std::string text = "type=cdir;perm=el;modify=20240101000000; .\r\n"
                                 "type=pdir;perm=el;modify=20240101000000; ..\r\n"
                                 "type=dir;perm=el;modify=20240101000000; sub folder\r\n"
                                 "type=file;size=42;modify=20240101000000;  leading blank.txt\r\n"
                                 "Type=DIR;Size=0; 日本語\r\n"
                                 "type=OS.unix=slink:/x;size=1; link\r\n";
        const auto entries = parseMlsdListing(text);
        QCOMPARE(names(entries), QString("sub folder/| leading blank.txt|日本語/|link"));
        QCOMPARE(entries[1].size, std::uint64_t(42));
    }

    void findPattern()
    {
        QVERIFY(matchesFindPattern("*.*", "noext"));
        QVERIFY(matchesFindPattern("", "x"));
        QVERIFY(matchesFindPattern("*.jpg", "a.b.jpg"));
        QVERIFY(!matchesFindPattern("*.jpg", "a.jpeg"));
        QVERIFY(matchesFindPattern("1?.jpg", "12.jpg"));
        QVERIFY(!matchesFindPattern("1?.jpg", "1.jpg"));
    }

    void nameTruncationKeepsUtf8Whole()
    {
        char buf[8];
        std::memset(buf, 'x', sizeof buf);
        copyTruncatedUtf8("abcde日本", buf, sizeof buf); // 日 would need bytes 5..7, only 5..6 fit
        QCOMPARE(QByteArray(buf), QByteArray("abcde"));
        copyTruncatedUtf8("ab", buf, sizeof buf);
        QCOMPARE(QByteArray(buf), QByteArray("ab"));
        QCOMPARE(buf[7], '\0');
        std::string exact(7, 'q');
        copyTruncatedUtf8(exact, buf, sizeof buf);
        QCOMPARE(QByteArray(buf), QByteArray(exact.c_str()));
    }

    void serverAddress_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("explicitPort");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("ipv6");
        QTest::newRow("plain") << "ftp.example.com" << 0 << true << "ftp.example.com" << 21 << false;
        QTest::newRow("with port") << "127.0.0.1:2121" << 0 << true << "127.0.0.1" << 2121 << false;
        QTest::newRow("explicit wins") << "127.0.0.1:2121" << 990 << true << "127.0.0.1" << 990 << false;
        QTest::newRow("bare v6") << "::1" << 0 << true << "::1" << 21 << true;
        QTest::newRow("bracketed v6 port") << "[::1]:2121" << 0 << true << "::1" << 2121 << true;
        QTest::newRow("bracketed v6") << "[fe80::1]" << 0 << true << "fe80::1" << 21 << true;
        QTest::newRow("empty") << "" << 0 << false << "" << 0 << false;
        QTest::newRow("bad port") << "host:99999" << 0 << false << "" << 0 << false;
        QTest::newRow("port text") << "host:ftp" << 0 << false << "" << 0 << false;
        QTest::newRow("empty port") << "host:" << 0 << false << "" << 0 << false;
        QTest::newRow("unclosed bracket") << "[::1:21" << 0 << false << "" << 0 << false;
        QTest::newRow("url injection") << "evil@host/x" << 0 << false << "" << 0 << false;
        QTest::newRow("blank") << "my host" << 0 << false << "" << 0 << false;
    }
    void serverAddress()
    {
        QFETCH(QString, name);
        QFETCH(int, explicitPort);
        QFETCH(bool, valid);
        const auto a = parseServerAddress(name.toStdString(), explicitPort);
        QCOMPARE(a.has_value(), valid);
        if (!valid)
            return;
        QTEST(QString::fromStdString(a->host), "host");
        QTEST(a->port, "port");
        QTEST(a->ipv6, "ipv6");
    }

    // A scheme in front of the host picks the protocol and its default port; the rest
    // reads exactly as a bare name does.
    void serverAddressSchemes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("explicitPort");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("scheme");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("ipv6");
        const int ftp = int(Scheme::Ftp), ftpes = int(Scheme::Ftpes), ftps = int(Scheme::Ftps),
                  sftp = int(Scheme::Sftp);
        QTest::newRow("bare is ftp") << "cam.example.jp" << 0 << true << ftp << "cam.example.jp" << 21 << false;
        QTest::newRow("ftp") << "ftp://cam.example.jp" << 0 << true << ftp << "cam.example.jp" << 21 << false;
        QTest::newRow("ftpes") << "ftpes://cam.example.jp" << 0 << true << ftpes << "cam.example.jp" << 21 << false;
        QTest::newRow("ftps") << "ftps://cam.example.jp" << 0 << true << ftps << "cam.example.jp" << 990 << false;
        QTest::newRow("sftp") << "sftp://cam.example.jp" << 0 << true << sftp << "cam.example.jp" << 22 << false;
        QTest::newRow("upper case") << "SFTP://Cam.example.jp" << 0 << true << sftp << "Cam.example.jp" << 22 << false;
        QTest::newRow("sftp port") << "sftp://127.0.0.1:2222" << 0 << true << sftp << "127.0.0.1" << 2222 << false;
        QTest::newRow("ftps port") << "ftps://127.0.0.1:2990" << 0 << true << ftps << "127.0.0.1" << 2990 << false;
        QTest::newRow("ftpes v6 port") << "ftpes://[::1]:2121" << 0 << true << ftpes << "::1" << 2121 << true;
        QTest::newRow("sftp v6") << "sftp://[::1]" << 0 << true << sftp << "::1" << 22 << true;
        QTest::newRow("sftp bare v6") << "sftp://fe80::1" << 0 << true << sftp << "fe80::1" << 22 << true;
        QTest::newRow("explicit wins") << "sftp://h:2222" << 8022 << true << sftp << "h" << 8022 << false;
        QTest::newRow("explicit over default") << "ftps://h" << 2990 << true << ftps << "h" << 2990 << false;
        QTest::newRow("unknown scheme") << "http://h" << 0 << false << 0 << "" << 0 << false;
        QTest::newRow("scheme only") << "sftp://" << 0 << false << 0 << "" << 0 << false;
        QTest::newRow("empty scheme") << "://h" << 0 << false << 0 << "" << 0 << false;
        QTest::newRow("two schemes") << "ftp://sftp://h" << 0 << false << 0 << "" << 0 << false;
        QTest::newRow("path after host") << "sftp://h/pub" << 0 << false << 0 << "" << 0 << false;
        QTest::newRow("user in name") << "sftp://user@h" << 0 << false << 0 << "" << 0 << false;
        QTest::newRow("bad port") << "ftpes://h:0" << 0 << false << 0 << "" << 0 << false;
    }
    void serverAddressSchemes()
    {
        QFETCH(QString, name);
        QFETCH(int, explicitPort);
        QFETCH(bool, valid);
        const auto a = parseServerAddress(name.toStdString(), explicitPort);
        QCOMPARE(a.has_value(), valid);
        if (!valid)
            return;
        QTEST(int(a->scheme), "scheme");
        QTEST(QString::fromStdString(a->host), "host");
        QTEST(a->port, "port");
        QTEST(a->ipv6, "ipv6");
    }

    void remotePath_data()
    {
        QTest::addColumn<QString>("cwd");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        // clang-format off
        QTest::newRow("backslash is root") << "/a/b" << "\\" << "/";
        QTest::newRow("absolute") << "/a" << "/x/y/" << "/x/y";
        QTest::newRow("relative") << "/a" << "b/c" << "/a/b/c";
        QTest::newRow("dots") << "/a/b" << "../c/./d" << "/a/c/d";
        QTest::newRow("above root") << "/" << "../../x" << "/x";
        QTest::newRow("backslashes") << "/" << "\\pub\\cam" << "/pub/cam";
        QTest::newRow("empty stays") << "/a/b" << "" << "/a/b";
        QTest::newRow("double slash") << "/" << "//a//b" << "/a/b";
        // clang-format on
    }
    void remotePath()
    {
        QFETCH(QString, cwd);
        QFETCH(QString, path);
        QTEST(QString::fromStdString(resolveRemotePath(cwd.toStdString(), path.toStdString())), "expected");
    }

    void urls()
    {
        ServerAddress v4{"127.0.0.1", 2121, false};
        QCOMPARE(QString::fromStdString(ftpUrl(v4, "/")), QString("ftp://127.0.0.1:2121/%2F/"));
        QCOMPARE(QString::fromStdString(ftpUrl(v4, "/a b/c#?", "x%.jpg")),
                 QString("ftp://127.0.0.1:2121/%2Fa%20b/c%23%3F/x%25.jpg"));
        QCOMPARE(QString::fromStdString(ftpUrl(v4, "/日")), QString("ftp://127.0.0.1:2121/%2F%E6%97%A5/"));
        ServerAddress v6{"fe80::1%lo", 21, true};
        QCOMPARE(QString::fromStdString(ftpServerUrl(v6)), QString("ftp://[fe80::1%25lo]:21/"));
    }

    void schemeUrls()
    {
        // ftpes is ftp:// with TLS asked for by option; implicit TLS has its own scheme.
        const ServerAddress ftpes{"h", 21, false, Scheme::Ftpes};
        QCOMPARE(QString::fromStdString(ftpUrl(ftpes, "/pub", "a.jpg")), QString("ftp://h:21/%2Fpub/a.jpg"));
        const ServerAddress ftps{"h", 990, false, Scheme::Ftps};
        QCOMPARE(QString::fromStdString(ftpUrl(ftps, "/pub")), QString("ftps://h:990/%2Fpub/"));
        // SFTP paths are absolute without the encoded slash; the root is one slash.
        const ServerAddress sftp{"Cam.Example.JP", 22, false, Scheme::Sftp};
        QCOMPARE(QString::fromStdString(ftpServerUrl(sftp)), QString("sftp://cam.example.jp:22/"));
        QCOMPARE(QString::fromStdString(ftpUrl(sftp, "/")), QString("sftp://cam.example.jp:22/"));
        QCOMPARE(QString::fromStdString(ftpUrl(sftp, "/", "10.jpg")), QString("sftp://cam.example.jp:22/10.jpg"));
        QCOMPARE(QString::fromStdString(ftpUrl(sftp, "/pub/a b")), QString("sftp://cam.example.jp:22/pub/a%20b/"));
        QCOMPARE(QString::fromStdString(ftpUrl(sftp, "/pub", "10.jpg")),
                 QString("sftp://cam.example.jp:22/pub/10.jpg"));
        // An interface name keeps its case.
        const ServerAddress zoned{"FE80::1%Eth0", 2222, true, Scheme::Sftp};
        QCOMPARE(QString::fromStdString(ftpServerUrl(zoned)), QString("sftp://[fe80::1%25Eth0]:2222/"));
    }
};

QTEST_GUILESS_MAIN(TestFtpListing)
#include "test_ftplisting.moc"
