// The messages to the owner against real servers on loopback: a mail server (plain, and
// STARTTLS with a certificate the test made) and a web endpoint. A message arrives whole
// and once, goes again when the server is back, never holds up the one who sent it, and
// --test-alert says what became of each channel.
#include "core/app/alertTest.h"
#include "core/app/messenger.h"
#include "core/base/eventLog.h"
#include "core/ftp/ftpSession.h"

#include "messagetestserver.h"
#include "testfiles.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

namespace {

OwnerMessage lostHour()
{
    return OwnerMessage{OwnerMessageKind::Lost, QStringLiteral("Skylark: 10.jpg を送れませんでした (2026-12-07 10:30)"),
                        QStringLiteral("送れなかった時間:\n  2026-12-07 10:30:20  10.jpg")};
}

AlertSettings mailTo(const MessageTestServer& server)
{
    AlertSettings s;
    s.mail = QStringLiteral("owner@example.jp");
    s.from = QStringLiteral("camera@example.jp");
    s.smtp = QStringLiteral("smtp://127.0.0.1:%1").arg(server.port());
    return s;
}

QString urlOf(const MessageTestServer& server, const char* path)
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(server.port()).arg(QLatin1String(path));
}

} // namespace

class TestMessages : public QObject {
    Q_OBJECT
private slots:
    void init() { SKYLARK_SKIP_UNLESS_AVAILABLE(MessageTestServer); }
    void aMailArrivesWholeWithoutThePassword();
    void startTlsIsUsedAndItsCertificateChecked();
    void aPostAndAPing();
    void aMessageGoesOnceAndAgainWhenTheServerIsBack();
    void theAlertTestSaysWhatBecameOfEach();
};

void TestMessages::aMailArrivesWholeWithoutThePassword()
{
    MessageTestServer::Options login;
    login.user = QStringLiteral("camera");
    login.password = QStringLiteral("s3cret-smtp");
    MessageTestServer server(MessageTestServer::Mail, login);
    QVERIFY(server.start());
    AlertSettings settings = mailTo(server);
    settings.smtpUser = login.user;
    settings.smtpPassword = login.password;
    eventlog::addSecret(settings.smtpPassword);
    OwnerMessage message = lostHour();
    message.text += QStringLiteral("\n. a line that starts with a dot\nthe password s3cret-smtp");
    const Delivery delivery = Messenger::deliver(settings, Channel::Mail, message, 10);
    QVERIFY2(delivery.delivered, qPrintable(delivery.detail));
    const QByteArrayList mails = server.received();
    QCOMPARE(mails.size(), 1);
    const QByteArray& mail = mails.first();
    QVERIFY(mail.startsWith("MAIL FROM camera@example.jp\nRCPT TO owner@example.jp\n"));
    const QByteArray body = QByteArray::fromBase64(mail.mid(mail.indexOf("\r\n\r\n") + 4).replace("\r\n", ""));
    QVERIFY2(QString::fromUtf8(body).contains("2026-12-07 10:30:20  10.jpg\r\n. a line that starts with a dot"),
             body.constData());
    QVERIFY(!mail.contains("s3cret-smtp") && !body.contains("s3cret-smtp"));
    eventlog::clearSecrets();

    // A wrong login is not delivered, and says so.
    settings.smtpPassword = QStringLiteral("wrong");
    QVERIFY(!Messenger::deliver(settings, Channel::Mail, message, 10).delivered);
}

void TestMessages::startTlsIsUsedAndItsCertificateChecked()
{
    MessageTestServer::Options tls;
    tls.starttls = true;
    tls.requireStarttls = true; // a mail sent in the clear is refused
    MessageTestServer server(MessageTestServer::Mail, tls);
    QVERIFY(server.start());
    QTemporaryDir trust;
    FtpSession::useTrustFolder(trust.path());
    // Nobody vouches for the server's certificate yet.
    const Delivery refused = Messenger::deliver(mailTo(server), Channel::Mail, lostHour(), 10);
    QVERIFY(!refused.delivered);
    QCOMPARE(server.received().size(), 0);
    // Trusted as for FTPS, in ftp-ca.pem.
    QVERIFY(writeFile(trust.filePath("ftp-ca.pem"), server.certificatePem()));
    const Delivery delivered = Messenger::deliver(mailTo(server), Channel::Mail, lostHour(), 10);
    QVERIFY2(delivered.delivered, qPrintable(delivered.detail));
    QCOMPARE(server.received().size(), 1);
    FtpSession::useTrustFolder(QString());

    // A relay on this machine that offers STARTTLS with a certificate nobody vouches for
    // (one made at its install) gets the mail in the clear: TLS is never required there.
    tls.requireStarttls = false;
    MessageTestServer relay(MessageTestServer::Mail, tls);
    QVERIFY(relay.start());
    const Delivery plain = Messenger::deliver(mailTo(relay), Channel::Mail, lostHour(), 10);
    QVERIFY2(plain.delivered, qPrintable(plain.detail));
}

void TestMessages::aPostAndAPing()
{
    MessageTestServer web(MessageTestServer::Web);
    QVERIFY(web.start());
    AlertSettings settings;
    settings.url = urlOf(web, "/camera");
    settings.ping = urlOf(web, "/ping/1234");
    QVERIFY(Messenger::deliver(settings, Channel::Url, lostHour(), 10).delivered);
    QVERIFY(Messenger::deliver(settings, Channel::Ping, {}, 10).delivered);
    const QByteArrayList requests = web.received();
    QCOMPARE(requests.size(), 2);
    QCOMPARE(QString::fromUtf8(requests[0]), QString("POST /camera\nContent-Type: text/plain; charset=utf-8\n\n") +
                                                 lostHour().subject + "\n\n" + lostHour().text);
    QVERIFY(requests[1].startsWith("GET /ping/1234\n"));

    MessageTestServer::Options failing;
    failing.status = 500;
    MessageTestServer broken(MessageTestServer::Web, failing);
    QVERIFY(broken.start());
    settings.url = urlOf(broken, "/camera");
    const Delivery refused = Messenger::deliver(settings, Channel::Url, lostHour(), 10);
    QVERIFY(!refused.delivered);
    QCOMPARE(refused.detail, QString("HTTP 500"));
}

void TestMessages::aMessageGoesOnceAndAgainWhenTheServerIsBack()
{
    MessageTestServer web(MessageTestServer::Web);
    QVERIFY(web.start());
    web.stop(); // away, on a port it will come back on
    AlertSettings settings;
    settings.url = urlOf(web, "/camera");
    Messenger::Timing quick;
    quick.firstDelay = std::chrono::milliseconds(300);
    quick.longestDelay = std::chrono::milliseconds(600);
    quick.timeoutSeconds = 5;
    Messenger messenger(settings, quick);
    QElapsedTimer took;
    took.start();
    messenger.send(lostHour());
    QVERIFY2(took.elapsed() < 100, qPrintable(QString::number(took.elapsed()))); // it never holds the hour
    QTest::qWait(1000); // tried, failed, and waiting to try again
    QVERIFY(web.start());
    QTRY_COMPARE_WITH_TIMEOUT(web.received().size(), 1, 10000);
    QTest::qWait(1500);
    QCOMPARE(web.received().size(), 1); // once
    // Ending does not wait for a message still on its way to a server that does not answer.
    MessageTestServer::Options silent;
    silent.silent = true;
    MessageTestServer silentWeb(MessageTestServer::Web, silent);
    QVERIFY(silentWeb.start());
    settings.url = urlOf(silentWeb, "/camera");
    Messenger waiting(settings, quick);
    waiting.send(lostHour());
    QTRY_COMPARE(silentWeb.received().size(), 1); // taken, not answered
    took.restart();
    QVERIFY(!waiting.end());
    QVERIFY2(took.elapsed() < 1000, qPrintable(QString::number(took.elapsed())));
}

void TestMessages::theAlertTestSaysWhatBecameOfEach()
{
    MessageTestServer mail(MessageTestServer::Mail);
    MessageTestServer web(MessageTestServer::Web);
    QVERIFY(mail.start() && web.start());
    QTemporaryDir folder;
    const auto run = [&folder](const QByteArray& alertTxt, QString* said) {
        if (!writeFile(folder.filePath("alert.txt"), alertTxt))
            return -1;
        QString text;
        QTextStream out(&text);
        const int status = testAlert(folder.path(), out, 10);
        out.flush();
        *said = text;
        return status;
    };
    const QByteArray good = QStringLiteral("mail=owner@example.jp\nsmtp=smtp://127.0.0.1:%1\nurl=%2\n")
                                .arg(mail.port())
                                .arg(urlOf(web, "/camera"))
                                .toUtf8();
    QString said;
    QCOMPARE(run(good, &said), 0);
    QVERIFY2(said.contains(
                 QStringLiteral("mail to owner@example.jp through smtp://127.0.0.1:%1: delivered").arg(mail.port())) &&
                 said.contains(QStringLiteral("url %1: delivered").arg(urlOf(web, "/camera"))),
             qPrintable(said));
    QCOMPARE(mail.received().size(), 1);
    QCOMPARE(web.received().size(), 1);

    // A mistake in the file: named, and the status says so although all arrived.
    QCOMPARE(run(good + "colour=blue\n", &said), 1);
    QVERIFY2(said.contains("alert.txt:4: unknown key \"colour\""), qPrintable(said));
    // A channel that does not deliver.
    web.stop();
    QCOMPARE(run(good, &said), 1);
    QVERIFY2(said.contains("not delivered"), qPrintable(said));
}

QTEST_MAIN(TestMessages)
#include "test_messages.moc"
