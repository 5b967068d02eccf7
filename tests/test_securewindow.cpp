// The window with a secure server in its server box: trust read from beside ftp.txt,
// the tree, the manual transfer landing byte for byte, and a refused login shown as
// for plain FTP, and the hourly cycle on the stepped clock for every scheme. The window's own
// plain test server stands by unused.
#include "core/ftp/modWinInet.h"
#include "core/ftp/secureOptions.h"

#include "formharness.h"
#include "ftpstestserver.h"
#include "sftptestserver.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <functional>
#include <optional>

namespace {

// Points the started window at a secure server and connects, as the operator would.
void connectWindow(FormHarness& h, const QString& name, const QString& user, const QString& password)
{
    h.f().text1->setText(name);
    h.f().text2->setText(user);
    h.f().text3->setText(password);
    h.f().text4->setText(name + QStringLiteral("/pub"));
    h.f().Text5->setText(h.folder.filePath(QStringLiteral("13.jpg")));
    h.f().click(h.f().cmdConnect);
}

} // namespace

class TestSecureWindow : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { setTrustFolder({}); }

    void tlsThroughTheWindow_data()
    {
        QTest::addColumn<int>("tls");
        QTest::newRow("ftpes") << int(FtpsTestServerOptions::Tls::Explicit);
        QTest::newRow("ftps") << int(FtpsTestServerOptions::Tls::Implicit);
    }

    void tlsThroughTheWindow()
    {
        QFETCH(int, tls);
        SKYLARK_SKIP_UNLESS_AVAILABLE(FtpsTestServer);
        FtpsTestServerOptions options;
        options.tls = FtpsTestServerOptions::Tls(tls);
        FtpsTestServer server(options);
        QVERIFY(server.makeDir(QStringLiteral("pub")));
        QVERIFY(server.start());
        FormHarness h;
        const QByteArray image(300 * 1024, '\x5a');
        h.folder.writeFile("13.jpg", image);
        QVERIFY(h.start());
        // Trust is read from beside ftp.txt.
        QCOMPARE(QDir(QString::fromStdString(trustFolder())), QDir(h.folder.path()));
        const QString name = QString::fromLatin1(server.serverName());

        // Not trusted yet: no session, nothing of the login sent.
        connectWindow(h, name, server.user(), server.password());
        QVERIFY(!h.f().connected());
        QVERIFY(!sentLogin(server.commands()));

        h.folder.writeFile(QString::fromLatin1(kTrustedCertificatesFile), server.certificatePem());
        connectWindow(h, name, server.user(), server.password());
        QVERIFY(h.f().connected());
        QVERIFY(h.childKeys(name).contains(name + QStringLiteral("/pub")));
        h.f().click(h.f().Command5);
        QCOMPARE(h.platform.messages, QStringList{QStringLiteral("転送しました")});
        QCOMPARE(readFile(server.path(QStringLiteral("pub/13.jpg"))), image);
    }

    void sftpThroughTheWindow()
    {
        SKYLARK_SKIP_UNLESS_AVAILABLE(SftpTestServer);
        SftpTestServer server;
        QVERIFY(server.makeDir(QStringLiteral("pub")));
        QVERIFY(server.start());
        FormHarness h;
        const QByteArray image(300 * 1024, '\xa5');
        h.folder.writeFile("13.jpg", image);
        QVERIFY(h.start());
        const QString name = QString::fromLatin1(server.serverName());

        // A refused login reads as the FTP server's 530.
        connectWindow(h, name, server.user(), QStringLiteral("wrong"));
        QVERIFY(!h.f().connected());
        QCOMPARE(h.platform.messages.size(), 1);
        QVERIFY2(h.platform.messages.value(0).startsWith(QStringLiteral("InternetConnect Extd Err: 530 ")),
                 qPrintable(h.platform.messages.value(0)));
        h.platform.messages.clear();

        connectWindow(h, name, server.user(), server.password());
        QVERIFY(h.f().connected());
        QVERIFY(QFile::exists(h.folder.filePath(QString::fromLatin1(kKnownHostsFile))));
        QVERIFY(h.childKeys(name).contains(name + QStringLiteral("/pub")));
        h.f().click(h.f().Command5);
        QCOMPARE(h.platform.messages, QStringList{QStringLiteral("転送しました")});
        QCOMPARE(readFile(server.path(QStringLiteral("pub/13.jpg"))), image);
    }

    // The hourly cycle on the stepped clock, for each scheme: connect, the upload
    // through its part file (the second of the hour replacing the first), disconnect.
    // vsftpd renames over the first image; the SFTP server refuses that and the first
    // image is removed before the rename.
    void hourlyCycle_data()
    {
        QTest::addColumn<QString>("scheme");
        QTest::newRow("ftpes") << QStringLiteral("ftpes");
        QTest::newRow("ftps") << QStringLiteral("ftps");
        QTest::newRow("sftp") << QStringLiteral("sftp");
    }

    void hourlyCycle()
    {
        QFETCH(QString, scheme);
        const bool sftp = scheme == QLatin1String("sftp");
        if (sftp)
            SKYLARK_SKIP_UNLESS_AVAILABLE(SftpTestServer);
        else
            SKYLARK_SKIP_UNLESS_AVAILABLE(FtpsTestServer);
        FtpsTestServerOptions tls;
        tls.tls = scheme == QLatin1String("ftps") ? FtpsTestServerOptions::Tls::Implicit
                                                  : FtpsTestServerOptions::Tls::Explicit;
        std::optional<SftpTestServer> sftpServer;
        std::optional<FtpsTestServer> ftpsServer;
        QByteArray name;
        QString user;
        std::function<QString(const QString&)> serverPath;
        if (sftp) {
            sftpServer.emplace();
            QVERIFY(sftpServer->makeDir(QStringLiteral("pub")));
            QVERIFY(sftpServer->start());
            name = sftpServer->serverName();
            user = sftpServer->user();
            serverPath = [&](const QString& p) { return sftpServer->path(p); };
        } else {
            ftpsServer.emplace(tls);
            QVERIFY(ftpsServer->makeDir(QStringLiteral("pub")));
            QVERIFY(ftpsServer->start());
            name = ftpsServer->serverName();
            user = ftpsServer->user();
            serverPath = [&](const QString& p) { return ftpsServer->path(p); };
        }
        QVERIFY(name.startsWith(scheme.toLatin1() + "://"));
        FormHarness h({},
                      "\"" + name + "\",\"" + user.toUtf8() + "\",\"secret\",\"" + name + "/pub\",\"30\",\"20\"\r\n");
        if (ftpsServer)
            h.folder.writeFile(QString::fromLatin1(kTrustedCertificatesFile), ftpsServer->certificatePem());
        QByteArray ten(70000, '\0');
        for (int i = 0; i < ten.size(); ++i)
            ten[i] = static_cast<char>(i * 7 + i / 256);
        h.folder.writeFile("10.jpg", ten);
        h.platform.setTime(10, 29, 0);
        QVERIFY(h.start());
        // The harness points the boxes at its own server; back to what ftp.txt said.
        h.f().text1->setText(QString::fromLatin1(name));
        h.f().text2->setText(user);
        h.f().text3->setText(QStringLiteral("secret"));
        h.f().text4->setText(QString::fromLatin1(name) + QStringLiteral("/pub"));
        emit h.f().Timer3->timeout();
        QTest::mouseClick(h.f().Command4, Qt::LeftButton);

        stepClockTo(h, 10, 30, 10);
        QVERIFY(h.f().connected());
        stepClockTo(h, 10, 30, 35);
        QVERIFY(!h.f().connected());
        QCOMPARE(readFile(serverPath(QStringLiteral("pub/10.jpg"))), ten);
        QVERIFY(!QFile::exists(serverPath(QStringLiteral("pub/10.jpg.part"))));
        if (sftpServer) {
            QVERIFY2(sftpServer->events().count(QStringLiteral("remove /pub/10.jpg")) == 1,
                     qPrintable(sftpServer->events().join(" | ")));
        } else {
            // Both uploads went through the part file, encrypted from the login on.
            const QStringList commands = ftpsServer->commands();
            QCOMPARE(commands.count(QStringLiteral("STOR 10.jpg.part")), 2);
            QCOMPARE(commands.count(QStringLiteral("RNTO /pub/10.jpg")), 2);
            if (tls.tls == FtpsTestServerOptions::Tls::Explicit)
                QCOMPARE(commands.value(0), QStringLiteral("AUTH TLS"));
            QVERIFY(commands.contains(QStringLiteral("PROT P")));
        }
        QVERIFY2(h.platform.messages.isEmpty(), qPrintable(h.platform.messages.join(" | ")));
    }
};

QTEST_MAIN(TestSecureWindow)
#include "test_securewindow.moc"
