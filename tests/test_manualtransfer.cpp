// The manual transfer and the local lists that follow each other, against a real FTP
// server.
#include "core/ftp/modWinInet.h"

#include "formharness.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace {
const QString kNoFile = QStringLiteral("転送ファイルが無いか転送先が間違っているようです");

struct Manual {
    Manual()
    {
        h.server.makeDir("pub");
        h.folder.writeFile("13.jpg", "thirteen");
    }
    bool start(bool connect = true)
    {
        if (!h.start())
            return false;
        h.f().Text5->setText(h.folder.filePath("13.jpg"));
        if (connect)
            h.f().click(h.f().cmdConnect);
        return !connect || h.f().connected();
    }
    QByteArray onServer(const QString& path) const
    {
        QFile file(h.server.path(path));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    FTPformTestAccess& f() { return h.f(); }
    FormHarness h;
};
} // namespace

class TestManualTransfer : public QObject {
    Q_OBJECT
private slots:
    void sendsTheFileIntoTheFolder();
    void nameMustMatchExactly_data();
    void nameMustMatchExactly();
    void notConnected();
    void upperRowEmpty();
    void lowerRowIsTheServerName();
    void lowerRowShorterThanTheServerName();
    void refusedFolderSendsNothing();
    void upperRowInAnotherFolder();
    void missingFolderInTheUpperRow();
    void manyFilesInTheProgramFolder();
    void listsFollowEachOther();
    void driveNotReadyFallsBack();
};

void TestManualTransfer::sendsTheFileIntoTheFolder()
{
    Manual m;
    QVERIFY(m.start());
    m.f().click(m.f().Command5);
    QCOMPARE(m.h.platform.messages, QStringList{"転送しました"});
    QCOMPARE(m.onServer("pub/13.jpg"), QByteArray("thirteen"));
    QCOMPARE(m.f().sendFile(), QString("13.jpg"));
    QCOMPARE(m.f().File1->path(), m.h.folder.path());
    QCOMPARE(m.f().File1->fileName(), QString("13.jpg"));
    // The session stays in the destination folder: a relative change goes on from it.
    m.h.server.makeDir("pub/sub");
    m.f().changeRemoteDir("sub");
    QCOMPARE(m.h.server.commands().filter("CWD").last(), QString("CWD /pub/sub"));
}

void TestManualTransfer::nameMustMatchExactly_data()
{
    QTest::addColumn<QString>("present");
    QTest::newRow("another hour") << "12.jpg";
    QTest::newRow("upper case") << "13.JPG";
    QTest::newRow("hidden") << ".13.jpg";
}

void TestManualTransfer::nameMustMatchExactly()
{
    QFETCH(QString, present);
    Manual m;
    m.h.folder.removeFile("13.jpg");
    m.h.folder.writeFile(present, "x");
    QVERIFY(m.start());
    m.f().Text5->setText(m.h.folder.filePath(present == ".13.jpg" ? ".13.jpg" : "13.jpg"));
    m.f().click(m.f().Command5);
    QCOMPARE(m.h.platform.messages, QStringList{kNoFile});
    QVERIFY(!m.h.server.commands().join(' ').contains("STOR"));
}

void TestManualTransfer::notConnected()
{
    Manual m;
    QVERIFY(m.start(false));
    m.f().click(m.f().Command5);
    QCOMPARE(m.h.platform.messages, QStringList{"接続されていません"});
    QCOMPARE(m.f().sendFile(), QString("13.jpg"));
}

void TestManualTransfer::upperRowEmpty()
{
    Manual m;
    QVERIFY(m.start());
    m.f().sendFile() = "10.jpg";
    m.f().Text5->clear();
    m.f().click(m.f().Command5);
    QCOMPARE(m.h.platform.messages, QStringList{kNoFile});
    QVERIFY(m.f().sendFile().isEmpty()); // changed even though a message ended the click
}

void TestManualTransfer::lowerRowIsTheServerName()
{
    Manual m;
    QVERIFY(m.start());
    m.f().text4->setText(m.h.serverName());
    m.f().click(m.f().Command5);
    QCOMPARE(m.h.platform.messages, QStringList{"転送しました"});
    QCOMPARE(m.onServer("13.jpg"), QByteArray("thirteen"));
}

void TestManualTransfer::lowerRowShorterThanTheServerName()
{
    Manual m;
    QVERIFY(m.start());
    m.f().text4->setText("127");
    m.f().click(m.f().Command5);
    QCOMPARE(m.h.platform.messages, QStringList{"FTP.txt ファイルがありません"});
    QCOMPARE(m.f().sendFile(), QString("13.jpg"));
}

void TestManualTransfer::refusedFolderSendsNothing()
{
    Manual m;
    QVERIFY(m.start());
    m.f().text4->setText(m.h.serverName() + "/nowhere");
    m.f().click(m.f().Command5);
    QCOMPARE(m.h.platform.messages, QStringList{"転送先が間違ってます"});
    QVERIFY(!m.h.server.commands().join(' ').contains("STOR"));
}

void TestManualTransfer::upperRowInAnotherFolder()
{
    // The name is checked in the program folder; the file sent is the one the upper
    // row names.
    Manual m;
    QTemporaryDir other;
    QFile f(other.filePath("13.jpg"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("from elsewhere");
    f.close();
    QVERIFY(m.start());
    m.f().Text5->setText(other.filePath("13.jpg"));
    m.f().click(m.f().Command5);
    QCOMPARE(m.h.platform.messages, QStringList{"転送しました"});
    QCOMPARE(m.onServer("pub/13.jpg"), QByteArray("from elsewhere"));
    QCOMPARE(m.f().File1->path(), QDir::cleanPath(other.path()));

    // Not in the program folder at all: refused even though the upper row's file exists.
    m.h.platform.messages.clear();
    m.h.folder.removeFile("13.jpg");
    m.f().click(m.f().Command5);
    QCOMPARE(m.h.platform.messages, QStringList{kNoFile});
}

void TestManualTransfer::missingFolderInTheUpperRow()
{
    Manual m;
    QVERIFY(m.start());
    m.f().Text5->setText("/no/such/folder/13.jpg");
    m.f().click(m.f().Command5);
    QCOMPARE(m.h.platform.messages, QStringList{"FTP.txt ファイルがありません"});

    // A folder that exists without the file: nothing selected.
    m.h.platform.messages.clear();
    QTemporaryDir empty;
    m.f().Text5->setText(empty.filePath("13.jpg"));
    m.f().click(m.f().Command5);
    QCOMPARE(m.h.platform.messages, QStringList{"送り元、送り先のディレクトリを指定して下さい"});
}

void TestManualTransfer::manyFilesInTheProgramFolder()
{
    // More names than a 16-bit count holds must not fault the transfer.
    Manual m;
    for (int i = 0; i < 33000; ++i) {
        QFile f(m.h.folder.filePath(QString("img%1.jpg").arg(i)));
        if (!f.open(QIODevice::WriteOnly))
            QFAIL("cannot create files");
    }
    QVERIFY(m.start());
    m.f().click(m.f().Command5);
    QCOMPARE(m.h.platform.messages, QStringList{"転送しました"});
}

void TestManualTransfer::listsFollowEachOther()
{
    Manual m;
    QVERIFY(m.start(false));
    QDir(m.h.folder.path()).mkdir("cam");
    m.h.folder.writeFile("cam/a.jpg", "a");
    m.f().Dir1->setPath(m.h.folder.filePath("cam"));
    QCOMPARE(m.f().File1->path(), m.h.folder.filePath("cam"));
    QCOMPARE(m.f().File1->fileNames(), QStringList{"a.jpg"});
    m.f().Dir1->setPath(m.h.folder.path());
    QVERIFY(m.f().File1->fileNames().contains("13.jpg"));
}

void TestManualTransfer::driveNotReadyFallsBack()
{
    Manual m;
    QVERIFY(m.start(false));
    QTemporaryDir media;
    const QString root = QDir::cleanPath(media.path());
    m.f().Drive1->setVolumeSource([root] {
        return QList<Volume>{{QDir::rootPath(), QStringLiteral("system"), true},
                             {root, QStringLiteral("cdrom"), false}};
    });
    m.f().Drive1->setDrive(root);
    QCOMPARE(m.f().Drive1->drive(), DriveListBox::fallbackDrive());
    QCOMPARE(m.f().Dir1->path(), DriveListBox::fallbackDrive());
    QCOMPARE(m.f().File1->path(), DriveListBox::fallbackDrive());
    QVERIFY(m.h.platform.messages.isEmpty());
}

QTEST_MAIN(TestManualTransfer)
#include "test_manualtransfer.moc"
