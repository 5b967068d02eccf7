// An upload replaces the image on the server only once the whole file is there: the
// file travels under a temporary name and is renamed over the old one. Against the
// real server, with the connection cut in the middle of an upload and with servers
// that refuse the temporary name or the rename.
#include "core/base/eventLog.h"

#include "formharness.h"
#include "testfiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kSent = QStringLiteral("転送しました");
const QString kFailed = QStringLiteral("転送先が間違っているようです");

// A window connected to its server, the server's /pub holding yesterday's 10.jpg, and
// the upper path box naming today's 10.jpg in the program folder.
struct Upload {
    explicit Upload(FtpTestServerOptions options = {}) : h(std::move(options))
    {
        h.server.writeFile("pub/10.jpg", yesterday);
        h.folder.writeFile("10.jpg", today);
    }
    bool start()
    {
        if (!h.start())
            return false;
        h.f().Text5->setText(h.folder.filePath("10.jpg"));
        h.f().click(h.f().cmdConnect);
        return h.f().connected();
    }
    void sendNow()
    {
        h.platform.messages.clear();
        h.f().click(h.f().Command5);
    }
    QByteArray onServer(const QString& path) const
    {
        QFile file(h.server.path(path));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    bool onServerExists(const QString& path) const { return QFile::exists(h.server.path(path)); }

    QByteArray yesterday = randomBytes(40000);
    QByteArray today = randomBytes(60000);
    FormHarness h;
};

} // namespace

class TestAtomicUpload : public QObject {
    Q_OBJECT
private slots:
    void replacesTheImageWhole();
    void cutShortKeepsTheOldImage();
    void serverRefusingTheRename();
    void serverRefusingTheTemporaryName();
    void refusalOfBothIsReportedAsBefore();
    void aDiskFullDuringTheUploadKeepsTheOldImage();
    void anEndDuringARefusedRenameBeginsNoStoreAfterIt();
};

void TestAtomicUpload::replacesTheImageWhole()
{
    Upload u;
    QVERIFY(u.start());
    u.h.server.clearCommands();
    u.sendNow();
    QCOMPARE(u.h.platform.messages, QStringList{kSent});
    QCOMPARE(u.onServer("pub/10.jpg"), u.today);
    QVERIFY(!u.onServerExists("pub/10.jpg.part"));
    const QStringList sent = u.h.server.commands();
    const qsizetype stor = sent.indexOf("STOR 10.jpg.part");
    QVERIFY2(stor >= 0, qPrintable(sent.join(" | ")));
    QCOMPARE(sent.mid(stor + 1, 2), QStringList({"RNFR /pub/10.jpg.part", "RNTO /pub/10.jpg"}));
    // Once more over the file just sent: the rename replaces it again.
    u.h.folder.writeFile("10.jpg", u.yesterday);
    u.sendNow();
    QCOMPARE(u.h.platform.messages, QStringList{kSent});
    QCOMPARE(u.onServer("pub/10.jpg"), u.yesterday);
    QCOMPARE(u.h.server.uploadsOf("10.jpg"), 2);
}

void TestAtomicUpload::cutShortKeepsTheOldImage()
{
    FtpTestServerOptions options;
    options.dropAfterBytes = 300000; // both connections go once this much has arrived
    Upload u(options);
    const QByteArray large = randomBytes(2 * 1024 * 1024);
    u.h.folder.writeFile("10.jpg", large);
    QVERIFY(u.start());
    u.sendNow();
    QCOMPARE(u.h.platform.messages, QStringList{kFailed});
    // Yesterday's image is still there, whole; what arrived waits under the temporary name.
    QCOMPARE(u.onServer("pub/10.jpg"), u.yesterday);
    QVERIFY(u.onServer("pub/10.jpg.part").size() < large.size());
    QVERIFY(u.h.server.storesOf("10.jpg") >= 1);
    QCOMPARE(u.h.server.commands().count("STOR 10.jpg"), 0);

    // The next upload of that image replaces both.
    u.h.folder.writeFile("10.jpg", u.today);
    u.sendNow();
    QCOMPARE(u.h.platform.messages, QStringList{kSent});
    QCOMPARE(u.onServer("pub/10.jpg"), u.today);
    QVERIFY(!u.onServerExists("pub/10.jpg.part"));
}

void TestAtomicUpload::serverRefusingTheRename()
{
    QTemporaryDir logDir;
    eventlog::open(logDir.path());
    FtpTestServerOptions options;
    options.refuseRename = true;
    Upload u(options);
    QVERIFY(u.start());
    u.sendNow();
    QCOMPARE(u.h.platform.messages, QStringList{kSent});
    QCOMPARE(u.onServer("pub/10.jpg"), u.today);
    // The temporary file is taken away where the server lets it.
    QVERIFY(!u.onServerExists("pub/10.jpg.part"));
    QCOMPARE(u.h.server.commands().count("DELE /pub/10.jpg.part"), 1);

    // For the rest of the session the file goes straight to its name, and the log says
    // so once.
    u.h.server.clearCommands();
    u.sendNow();
    QCOMPARE(u.h.platform.messages, QStringList{kSent});
    QCOMPARE(u.h.server.commands().filter("STOR"), QStringList{"STOR 10.jpg"});
    eventlog::close();
    QFile log(logDir.filePath("skylark.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(log.readAll());
    QCOMPARE(text.count("refused to rename"), 1);

    // A new session tries the temporary name again.
    u.h.f().click(u.h.f().cmdDisconnect);
    u.h.f().click(u.h.f().cmdConnect);
    u.h.server.clearCommands();
    u.sendNow();
    QVERIFY(u.h.server.commands().contains("STOR 10.jpg.part"));
}

void TestAtomicUpload::serverRefusingTheTemporaryName()
{
    FtpTestServerOptions options;
    options.refuseSuffixes = {".part"};
    Upload u(options);
    QVERIFY(u.start());
    u.sendNow();
    QCOMPARE(u.h.platform.messages, QStringList{kSent});
    QCOMPARE(u.onServer("pub/10.jpg"), u.today);
    QCOMPARE(u.h.server.commands().filter("STOR"), QStringList({"STOR 10.jpg.part", "STOR 10.jpg"}));
}

void TestAtomicUpload::refusalOfBothIsReportedAsBefore()
{
    // A folder the server refuses every upload in: the hourly upload reports the
    // server's own reply to the store under the file's name, as it always did.
    FtpTestServerOptions options;
    options.readonlyDirs = {"pub"};
    Upload u(options);
    QVERIFY(u.start());
    u.h.platform.setTime(10, 30, 19, 600);
    u.h.f().Text8->setText("30");
    u.h.f().Text6->setText("20");
    emit u.h.f().Timer3->timeout(); // the clock label, which the arming reads the hour from
    u.h.f().Command4->click();
    stepClockTo(u.h, 10, 30, 20, 100);
    QCOMPARE(u.h.platform.messages.size(), 1);
    QVERIFY2(u.h.platform.messages[0].startsWith("FtpPutFile Extd Err: 550 "), qPrintable(u.h.platform.messages[0]));
    QCOMPARE(u.onServer("pub/10.jpg"), u.yesterday);
    QVERIFY(u.h.server.commands().contains("STOR 10.jpg"));
}

void TestAtomicUpload::aDiskFullDuringTheUploadKeepsTheOldImage()
{
    // The server takes the temporary name, then its disk fills part way: no second try
    // under the final name, which keeps yesterday's image whole, and the part that
    // arrived is taken away.
    QTemporaryDir logDir;
    eventlog::open(logDir.path());
    FtpTestServerOptions options;
    options.fullAfterBytes = 30000;
    Upload u(options);
    QVERIFY(u.start());
    u.sendNow();
    eventlog::close();
    QCOMPARE(u.h.platform.messages, QStringList{kFailed});
    QCOMPARE(u.onServer("pub/10.jpg"), u.yesterday);
    QVERIFY(!u.onServerExists("pub/10.jpg.part"));
    const QStringList sent = u.h.server.commands();
    QCOMPARE(sent.filter("STOR"), QStringList{"STOR 10.jpg.part"});
    QVERIFY(sent.contains("DELE /pub/10.jpg.part"));
    QVERIFY(!sent.filter("RNFR").size());
    QVERIFY(readFile(logDir.filePath("skylark.log"))
                .contains("upload: \"10.jpg\" failed while under its temporary name; \"10.jpg\" on the server is "
                          "left as it was"));
}

// A server that refuses the rename, slowly: an end that comes while the rename is asked
// for lets its answer come, but no store under the final name begins after it, which
// the end would cut short and leave the image on the server short.
void TestAtomicUpload::anEndDuringARefusedRenameBeginsNoStoreAfterIt()
{
    FtpTestServerOptions options;
    options.refuseRename = true;
    options.delaySeconds = 0.1;
    options.uploadRate = 20000; // three seconds for the image
    Upload u(options);
    QVERIFY(u.start());
    QTest::mouseClick(u.h.f().Command5, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(u.h.server.commands().contains("RNFR /pub/10.jpg.part"), 10000);
    u.h.form->close();
    QTest::qWait(1000);
    QCOMPARE(u.h.server.commands().count("STOR 10.jpg"), 0);
    QCOMPARE(u.onServer("pub/10.jpg"), u.yesterday);
}

QTEST_MAIN(TestAtomicUpload)
#include "test_atomicupload.moc"
