// The password never leaves the program: after every kind of session (the operator's
// connect, the tree, a manual transfer, the hourly cycle, a refused login, a full disk,
// a server that is gone, saving the settings) it is in neither the event log nor on
// standard error, nor in the process's arguments or environment. Nothing even tried to
// write it: no line needed the scrubbing either.
#include "core/base/eventLog.h"
#include "core/ftp/ftpConnection.h"
#include "core/ftp/modWinInet.h"

#include "formharness.h"
#include "stderrcapture.h"
#include "testfiles.h"

#include <QTest>
#include <QUrl>

#include <unistd.h>

using namespace wininet;

namespace {

const QString kPassword = QStringLiteral("Zq7!pw секрет");

// Every form the password could take on its way out.
QList<QByteArray> formsOf(const QString& password)
{
    return {password.toUtf8(), QUrl::toPercentEncoding(password), password.toUtf8().toBase64()};
}

} // namespace

class TestSecrets : public QObject {
    Q_OBJECT
private slots:
    void init() { setFtpBounds({3, 3, 3}); }
    void cleanup()
    {
        setFtpBounds(FtpBounds{});
        eventlog::close();
        eventlog::clearSecrets();
    }
    void everyKindOfSessionKeepsThePassword();
    void anEchoingServerNeverShowsThePassword_data();
    void anEchoingServerNeverShowsThePassword();
    void ownFieldsAreWrittenAsTheyAre();
};

void TestSecrets::everyKindOfSessionKeepsThePassword()
{
    FtpTestServerOptions options;
    options.password = kPassword;
    const QByteArray settings = "\"ftp1\",\"user\",\"" + kPassword.toUtf8() + "\",\"ftp1/pub\",\"30\",\"20\"\r\n";
    FormHarness h(options, settings);
    h.server.makeDir("pub/cam");
    for (const char* name : {"10.jpg", "11.jpg", "12.jpg", "13.jpg"})
        h.folder.writeFile(name, QByteArray(20000, 'x'));
    StderrCapture err;
    QVERIFY(eventlog::open(h.folder.path()));
    h.platform.setTime(10, 29, 0);
    QVERIFY(h.start());
    FTPformTestAccess& f = h.f();
    f.text3->setText(kPassword);
    const QString server = h.serverName();

    // The operator's session: connect, open a folder in the tree, send now, disconnect.
    f.click(f.cmdConnect);
    QVERIFY(f.connected());
    h.clickNode(server + "/pub");
    f.Text5->setText(f.myPath() + "10.jpg");
    f.click(f.Command5);
    QVERIFY(h.platform.messages.contains(QStringLiteral("転送しました")));
    f.click(f.cmdDisconnect);

    // The hourly cycle.
    emit f.Timer3->timeout();
    f.Command4->click();
    stepClockTo(h, 10, 30, 31);
    QCOMPARE(h.server.uploadsOf("10.jpg"), 3);

    // A refused login and a full disk, on servers of their own with the same password;
    // then a server that is not there at all.
    for (int variant = 0; variant < 3; ++variant) {
        FtpTestServerOptions bad = options;
        bad.refuseLogin = variant == 0;
        bad.diskFull = variant == 1;
        FtpTestServer other(bad);
        other.makeDir("pub");
        QVERIFY(other.start());
        const QString name = QString::fromLatin1(other.address());
        if (variant == 2)
            other.stop();
        f.text1->setText(name);
        f.text4->setText(name + "/pub");
        h.platform.setTime(11 + variant, 29, 0);
        stepClockTo(h, 11 + variant, 30, 31);
    }
    QVERIFY(h.platform.messages.join('|').contains("530"));
    QVERIFY(h.platform.messages.join('|').contains("552"));

    // Saving the settings writes the password into ftp.txt, as it always did, and
    // nowhere else.
    f.Command1->click();
    QVERIFY(readFile(h.folder.filePath("ftp.txt")).contains(kPassword.toUtf8()));
    h.form->close();
    eventlog::close();

    const QByteArray log = readFile(h.folder.filePath("skylark.log"));
    const QByteArray said = err.text();
    // The log holds what happened, so its silence about the password means something.
    // Each failure in its own words: libcurl's for a request that reached the server,
    // none for one that failed before (no session), however soon after the other.
    for (const char* kind : {"settings: loaded", "connect: ", "upload: ", "disconnect: ", "hourly: armed",
                             "settings: saved", "ERROR_INTERNET_CANNOT_CONNECT libcurl=\"Failed to connect",
                             "error: call=InternetConnect code=12003 ERROR_INTERNET_EXTENDED_ERROR libcurl=\"Access "
                             "denied: 530\" reply=\"530 Login incorrect.\" shown=yes",
                             "error: call=FtpPutFile code=12003 ERROR_INTERNET_EXTENDED_ERROR libcurl=\"Failed FTP "
                             "upload: 552\" reply=\"552 Insufficient storage space.\" shown=yes",
                             "error: call=FtpPutFile code=6 ERROR_INVALID_HANDLE libcurl=\"\""})
        QVERIFY2(log.contains(kind), qPrintable(QString::fromUtf8(kind) + "\n" + QString::fromUtf8(log.right(3000))));
    QCOMPARE(said, log);
    const QByteArray cmdline = readFile(QStringLiteral("/proc/%1/cmdline").arg(getpid()));
    const QByteArray environ = readFile(QStringLiteral("/proc/%1/environ").arg(getpid()));
    QVERIFY(!cmdline.isEmpty() && !environ.isEmpty());
    const std::pair<const char*, QByteArray> places[] = {
        {"skylark.log", log}, {"standard error", said}, {"cmdline", cmdline}, {"environ", environ}};
    for (const auto& [where, text] : places)
        for (const QByteArray& form : formsOf(kPassword))
            QVERIFY2(!text.contains(form), where);
    QVERIFY2(!log.contains("***"), "something tried to log the password");
}

void TestSecrets::anEchoingServerNeverShowsThePassword_data()
{
    QTest::addColumn<QString>("password");
    QTest::newRow("plain") << QStringLiteral("Zq7pw42");
    QTest::newRow("quote, backslash, percent, blank") << QStringLiteral(R"(a"b\c%d e)");
}

// The server repeats the password: in its refusal of a wrong one, and in its refusal of
// an upload. The log, standard error and the boxes show "***" in its place.
void TestSecrets::anEchoingServerNeverShowsThePassword()
{
    QFETCH(QString, password);
    const QString wrong = password + QStringLiteral("!x");
    FtpTestServerOptions options;
    options.password = password;
    options.echoPassword = true;
    options.refuseSuffixes = {".part", ".jpg"};
    FormHarness h(options);
    h.server.makeDir("pub");
    h.folder.writeFile("10.jpg", QByteArray(2000, 'x'));
    StderrCapture err;
    QVERIFY(eventlog::open(h.folder.path()));
    h.platform.setTime(10, 30, 0);
    QVERIFY(h.start());
    FTPformTestAccess& f = h.f();
    f.text3->setText(wrong);
    f.click(f.cmdConnect);
    f.text3->setText(password);
    emit f.Timer3->timeout();
    f.Command4->click();
    stepClockTo(h, 10, 30, 21);
    h.form->close();
    eventlog::close();

    const QStringList boxes = h.platform.messages;
    QCOMPARE(boxes.size(), 3); // the refused login, then both uploads of the set second
    QCOMPARE(boxes[0], QStringLiteral("InternetConnect Extd Err: 530 530 Login incorrect for PASS ***"));
    QCOMPARE(boxes[1], QStringLiteral("FtpPutFile Extd Err: 553 553 File name not allowed for password ***."));
    const QByteArray log = readFile(h.folder.filePath("skylark.log"));
    QVERIFY(log.contains("***"));
    QCOMPARE(err.text(), log);
    for (const QString& secret : {password, wrong}) {
        QList<QByteArray> forms = formsOf(secret);
        QString quoted = secret; // as a quoted value of the log writes it
        quoted.replace(QStringLiteral("\\"), QStringLiteral("\\\\"))
            .replace(QStringLiteral("\""), QStringLiteral("\\\""));
        forms << quoted.toUtf8();
        for (const QByteArray& form : forms) {
            QVERIFY2(!log.contains(form), form.constData());
            QVERIFY2(!boxes.join('|').toUtf8().contains(form), form.constData());
        }
    }
}

// A password of one letter, which is also the user's name: the server's echo of it goes,
// and Skylark's own words and values stay as they are.
void TestSecrets::ownFieldsAreWrittenAsTheyAre()
{
    FtpTestServerOptions options;
    options.user = options.password = QStringLiteral("p");
    options.echoPassword = true;
    options.refuseSuffixes = {".part", ".jpg"};
    FormHarness h(options);
    h.server.makeDir("pub");
    h.folder.writeFile("10.jpg", QByteArray(2000, 'x'));
    StderrCapture err;
    QVERIFY(eventlog::open(h.folder.path()));
    QVERIFY(h.start());
    FTPformTestAccess& f = h.f();
    f.text2->setText("p");
    f.text3->setText("p");
    f.click(f.cmdConnect);
    h.clickNode(h.serverName() + "/pub");
    f.Text5->setText(f.myPath() + "10.jpg");
    f.click(f.Command5);
    h.form->close();
    eventlog::close();

    const QString log = QString::fromUtf8(readFile(h.folder.filePath("skylark.log")));
    for (const QString& own : {R"(connect: server=")" + h.serverName() + R"(" user="p" passive=)",
                               QStringLiteral(R"(upload: file="10.jpg" folder="/pub")"),
                               QStringLiteral(R"(reply="553 File name not allowed for ***assword ***.")")})
        QVERIFY2(log.contains(own), qPrintable(own + '\n' + log));
}

QTEST_MAIN(TestSecrets)
#include "test_secrets.moc"
