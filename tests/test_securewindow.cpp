// The window with a secure server in its server box: trust read from beside ftp.txt
// and given on the operator's Connect, the tree, the manual transfer landing byte for
// byte, a refused login shown as for plain FTP, and the hourly cycle on the stepped
// clock for every scheme, which never asks. The window's own plain test server stands
// by unused.
#include "core/base/eventLog.h"
#include "core/ftp/modWinInet.h"
#include "core/ftp/pinnedKeys.h"
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

    // A certificate nothing trusted vouches for, on the operator's Connect: one question
    // that says what it is, with its fingerprint on a line of its own. いいえ pins
    // nothing and no login is sent; はい pins its key for the server and connects.
    void untrustedCertificateOnConnect_data()
    {
        QTest::addColumn<int>("tls");
        QTest::addColumn<int>("certificate");
        QTest::addColumn<QString>("why");
        QTest::newRow("ftpes, self-signed")
            << int(FtpsTestServerOptions::Tls::Explicit) << int(FtpsTestServerOptions::Certificate::Good)
            << QStringLiteral("信頼できる認証局の署名がありません");
        QTest::newRow("ftps, another name")
            << int(FtpsTestServerOptions::Tls::Implicit) << int(FtpsTestServerOptions::Certificate::WrongName)
            << QStringLiteral("対象の名前: wrong.example");
    }

    void untrustedCertificateOnConnect()
    {
        QFETCH(int, tls);
        QFETCH(int, certificate);
        QFETCH(QString, why);
        SKYLARK_SKIP_UNLESS_AVAILABLE(FtpsTestServer);
        FtpsTestServerOptions options;
        options.tls = FtpsTestServerOptions::Tls(tls);
        options.certificate = FtpsTestServerOptions::Certificate(certificate);
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
        const QString pins = h.folder.filePath(QString::fromLatin1(kPinnedKeysFile));

        connectWindow(h, name, server.user(), server.password()); // answered いいえ
        QVERIFY(!h.f().connected());
        QCOMPARE(h.platform.questions.size(), 1);
        const FakePlatform::Question asked = h.platform.questions.value(0);
        QVERIFY(asked.yesByDefault);
        QVERIFY2(asked.text.split(QLatin1Char('\n')).contains(server.fingerprint()), qPrintable(asked.text));
        QVERIFY2(asked.text.contains(why) && asked.text.contains(QStringLiteral("有効期間: ")), qPrintable(asked.text));
        QCOMPARE(h.platform.messages, QStringList()); // the one box
        QVERIFY(!sentLogin(server.commands()));
        QVERIFY(!QFile::exists(pins));

        h.platform.answers = {true};
        connectWindow(h, name, server.user(), server.password());
        QVERIFY(h.f().connected());
        QCOMPARE(h.platform.questions.size(), 2);
        QVERIFY(h.childKeys(name).contains(name + QStringLiteral("/pub")));
        QVERIFY2(readFile(pins).contains(server.publicKeyPin().toLatin1()), readFile(pins).constData());
        h.f().click(h.f().Command5);
        QCOMPARE(h.platform.messages, QStringList{QStringLiteral("転送しました")});
        QCOMPARE(readFile(server.path(QStringLiteral("pub/13.jpg"))), image);
        QCOMPARE(server.commands().count(QStringLiteral("USER anonymous")), 1);
    }

    // The hourly connect never asks: a server whose key is not the pinned one is refused,
    // the hour is not tried again, and the log names the key it offered. The operator's
    // Connect shows the pinned and the offered fingerprint, いいえ by default, and
    // replaces the pin on はい.
    void changedCertificate()
    {
        SKYLARK_SKIP_UNLESS_AVAILABLE(FtpsTestServer);
        FtpsTestServer server;
        QVERIFY(server.makeDir(QStringLiteral("pub")));
        QVERIFY(server.start());
        const QByteArray name = server.serverName();
        FormHarness h({}, "\"" + name + "\",\"anonymous\",\"secret\",\"" + name + "/pub\",\"30\",\"20\"\r\n");
        // The key of the certificate it had before.
        const QString before = QByteArray(32, '\x11').toHex(':');
        const QString pins = h.folder.filePath(QString::fromLatin1(kPinnedKeysFile));
        QVERIFY(writeFile(pins, server.address() + " sha256//" + QByteArray(32, '\x11').toBase64() + " " +
                                    before.toLatin1() + "\n"));
        h.folder.writeFile("10.jpg", "image");
        h.platform.setTime(10, 29, 0);
        QVERIFY(eventlog::open(h.folder.path()));
        QVERIFY(h.start());
        h.f().text1->setText(QString::fromLatin1(name));
        h.f().text2->setText(server.user());
        h.f().text3->setText(server.password());
        h.f().text4->setText(QString::fromLatin1(name) + QStringLiteral("/pub"));
        emit h.f().Timer3->timeout();
        QTest::mouseClick(h.f().Command4, Qt::LeftButton);
        stepClockTo(h, 10, 30, 35);
        const qsizetype tried = server.commands().size();
        QVERIFY(tried > 0);
        stepClockTo(h, 11, 30, 9);
        eventlog::close();
        QVERIFY(!h.f().connected());
        QCOMPARE(server.commands().size(), tried);
        QVERIFY(!sentLogin(server.commands()));
        QVERIFY(!QFile::exists(server.path(QStringLiteral("pub/10.jpg"))));
        QCOMPARE(h.platform.questions.size(), 0);
        const QByteArray log = readFile(h.folder.filePath(QStringLiteral("skylark.log")));
        QVERIFY2(log.contains("connect: server=\"" + name + "\"") &&
                     log.contains("code=12169 ERROR_INTERNET_SEC_INVALID_CERT") &&
                     log.contains("offered=\"certificate SHA-256 " + server.fingerprint().toLatin1()),
                 log.constData());

        h.f().click(h.f().cmdConnect); // answered いいえ
        QVERIFY(!h.f().connected());
        QCOMPARE(h.platform.questions.size(), 1);
        const FakePlatform::Question asked = h.platform.questions[0];
        QVERIFY(!asked.yesByDefault);
        const QStringList lines = asked.text.split(QLatin1Char('\n'));
        QVERIFY2(lines.contains(before.toUpper()) && lines.contains(server.fingerprint()), qPrintable(asked.text));
        QVERIFY(!sentLogin(server.commands()));
        h.platform.answers = {true};
        h.f().click(h.f().cmdConnect);
        QVERIFY(h.f().connected());
        QCOMPARE(readFile(pins).count(server.address()), 1);
        QVERIFY(readFile(pins).contains(server.publicKeyPin().toLatin1()));
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

        // A refused login reads as the FTP server's 530 (the key is trusted on the way).
        h.platform.answers = {true};
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

    // An SSH host key on the operator's Connect, asked about before any login: the
    // first one is recorded only on はい; a changed one is shown beside the recorded one
    // as a possible attack, いいえ by default, and replaces it only on はい.
    void hostKeyOnConnect()
    {
        SKYLARK_SKIP_UNLESS_AVAILABLE(SftpTestServer);
        SftpTestServer server;
        QVERIFY(server.makeDir(QStringLiteral("pub")));
        QVERIFY(server.start());
        FormHarness h;
        QVERIFY(h.start());
        const QString name = QString::fromLatin1(server.serverName());
        const QString knownHosts = h.folder.filePath(QString::fromLatin1(kKnownHostsFile));
        const auto lines = [](const QString& text) { return text.split(QLatin1Char('\n')); };

        connectWindow(h, name, server.user(), server.password()); // answered いいえ
        QVERIFY(!h.f().connected());
        QCOMPARE(h.platform.questions.size(), 1);
        QVERIFY(h.platform.questions[0].yesByDefault);
        QVERIFY2(lines(h.platform.questions[0].text).contains(server.hostKeyFingerprint()),
                 qPrintable(h.platform.questions[0].text));
        QVERIFY(!QFile::exists(knownHosts));
        QVERIFY2(server.events().filter(QStringLiteral("auth")).isEmpty(), qPrintable(server.events().join(" | ")));

        h.platform.answers = {true};
        connectWindow(h, name, server.user(), server.password());
        QVERIFY(h.f().connected());
        QCOMPARE(readFile(knownHosts), (server.knownHostsName() + QLatin1Char(' ') + server.hostKey() + "\n").toUtf8());
        h.f().click(h.f().cmdDisconnect);

        const QString recorded = server.hostKeyFingerprint();
        const QByteArray recordedFile = readFile(knownHosts);
        QVERIFY(server.changeHostKey());
        server.clearEvents();
        connectWindow(h, name, server.user(), server.password()); // answered いいえ
        QVERIFY(!h.f().connected());
        QCOMPARE(h.platform.questions.size(), 3);
        const FakePlatform::Question changed = h.platform.questions[2];
        QVERIFY(!changed.yesByDefault);
        QVERIFY2(lines(changed.text).contains(recorded) && lines(changed.text).contains(server.hostKeyFingerprint()) &&
                     changed.text.contains(QStringLiteral("攻撃")),
                 qPrintable(changed.text));
        QVERIFY(server.events().filter(QStringLiteral("auth")).isEmpty());
        QCOMPARE(readFile(knownHosts), recordedFile);

        h.platform.answers = {true};
        connectWindow(h, name, server.user(), server.password());
        QVERIFY(h.f().connected());
        QCOMPARE(readFile(knownHosts), (server.knownHostsName() + QLatin1Char(' ') + server.hostKey() + "\n").toUtf8());
        QCOMPARE(h.platform.messages, QStringList());
    }

    // The hourly cycle on the stepped clock, for each scheme: connect, the upload
    // through its part file (the second of the hour replacing the first), disconnect.
    // vsftpd renames over the first image; the SFTP server refuses that and the first
    // image is removed before the rename. A certificate for another name is trusted by
    // its pinned key; a server never seen over SFTP has its key recorded, unasked, and
    // the log says which.
    void hourlyCycle_data()
    {
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<bool>("pinned");
        QTest::newRow("ftpes") << QStringLiteral("ftpes") << false;
        QTest::newRow("ftpes, pinned") << QStringLiteral("ftpes") << true;
        QTest::newRow("ftps") << QStringLiteral("ftps") << false;
        QTest::newRow("sftp") << QStringLiteral("sftp") << false;
    }

    void hourlyCycle()
    {
        QFETCH(QString, scheme);
        QFETCH(bool, pinned);
        const bool sftp = scheme == QLatin1String("sftp");
        if (sftp)
            SKYLARK_SKIP_UNLESS_AVAILABLE(SftpTestServer);
        else
            SKYLARK_SKIP_UNLESS_AVAILABLE(FtpsTestServer);
        FtpsTestServerOptions tls;
        tls.tls = scheme == QLatin1String("ftps") ? FtpsTestServerOptions::Tls::Implicit
                                                  : FtpsTestServerOptions::Tls::Explicit;
        if (pinned)
            tls.certificate = FtpsTestServerOptions::Certificate::WrongName;
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
        if (pinned)
            h.folder.writeFile(QString::fromLatin1(kPinnedKeysFile),
                               ftpsServer->address() + " " + ftpsServer->publicKeyPin().toLatin1() + "\n");
        else if (ftpsServer)
            h.folder.writeFile(QString::fromLatin1(kTrustedCertificatesFile), ftpsServer->certificatePem());
        QByteArray ten(70000, '\0');
        for (int i = 0; i < ten.size(); ++i)
            ten[i] = static_cast<char>(i * 7 + i / 256);
        h.folder.writeFile("10.jpg", ten);
        h.platform.setTime(10, 29, 0);
        QVERIFY(eventlog::open(h.folder.path()));
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
        eventlog::close();
        if (sftpServer) {
            QVERIFY2(sftpServer->events().count(QStringLiteral("remove /pub/10.jpg")) == 1,
                     qPrintable(sftpServer->events().join(" | ")));
            const QByteArray log = readFile(h.folder.filePath(QStringLiteral("skylark.log")));
            QVERIFY2(log.contains("result=ok") &&
                         log.contains("hostkey=\"ssh-ed25519 " + sftpServer->hostKeyFingerprint().toLatin1() +
                                      "\" recorded in known_hosts"),
                     log.constData());
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
        QCOMPARE(h.platform.questions.size(), 0);
    }
};

QTEST_MAIN(TestSecureWindow)
#include "test_securewindow.moc"
