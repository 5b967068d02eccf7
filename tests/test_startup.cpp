// The window's start-up against a prepared program folder, the missing-files path, the
// enabling rule, saving the settings, and the ways the window ends.
#include "core/ftp/modWinInet.h"
#include "core/local/volumes.h"

#include "fakeplatform.h"
#include "formaccess.h"
#include "programfolder.h"

#include <QTest>

using namespace wininet;

namespace {
const QString kMissing = QStringLiteral("足りないファイルがあるようです");
} // namespace

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    void loadsTheSettingsAndSetsTheControls();
    void missingFilesEndTheProgram_data();
    void missingFilesEndTheProgram();
    void programFolderHasOneTrailingSeparator();
    void localListsStartOnTheCurrentFolder();
    void saveThenRestart();
    void saveFailureIsReported();
    void endButtonEndsAtOnce();
    void closingTheWindowClosesTheHandles();
};

void TestStartup::loadsTheSettingsAndSetsTheControls()
{
    ProgramFolder folder("first line\r\n\"srv\",\"me\",\"pw\",\"srv/cam\",\"05\",\"30\"\r\n");
    FakePlatform platform;
    platform.folder = folder.path();
    FTPform formWindow(platform);
    FTPformTestAccess form(formWindow);
    QVERIFY(formWindow.Form_Load());
    QVERIFY(platform.messages.isEmpty());
    QCOMPARE(platform.endCalls, 0);

    QCOMPARE(form.text1->text(), QString("srv"));
    QCOMPARE(form.text2->text(), QString("me"));
    QCOMPARE(form.text3->text(), QString("pw"));
    QCOMPARE(form.text4->text(), QString("srv/cam"));
    QCOMPARE(form.Text8->text(), QString("05"));
    QCOMPARE(form.Text6->text(), QString("30"));
    QCOMPARE(form.text3->echoMode(), QLineEdit::Password);

    // Every control the operator sees lies inside the window.
    for (QWidget* w : formWindow.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        QVERIFY2(w->isHidden() || formWindow.rect().contains(w->geometry()), qPrintable(w->objectName()));

    QVERIFY(form.chkPassive->isChecked());
    QVERIFY(form.optBin->isChecked());
    QVERIFY(!form.optAscii->isChecked());
    QCOMPARE(form.transferType(), 2);
    QVERIFY(form.hInternet() != 0);
    QCOMPARE(form.hFtp(), 0);
    QVERIFY(!form.connected());
    QCOMPARE(form.imageList().count(), 4);

    // The six controls nobody ever sees.
    for (QWidget* w : {static_cast<QWidget*>(form.txtProxy), static_cast<QWidget*>(form.chkPassive),
                       static_cast<QWidget*>(form.cmdGet), static_cast<QWidget*>(form.cmdPut),
                       static_cast<QWidget*>(form.optBin), static_cast<QWidget*>(form.optAscii)})
        QVERIFY2(w->isHidden(), qPrintable(w->objectName()));

    // Idle: Connect usable, Disconnect locked, the boxes editable, the proxy locked.
    QVERIFY(form.cmdConnect->isEnabled());
    QVERIFY(!form.cmdDisconnect->isEnabled());
    QVERIFY(form.text1->isEnabled() && form.text2->isEnabled() && form.text3->isEnabled());
    QVERIFY(!form.txtProxy->isEnabled());
    QVERIFY(!form.cmdGet->isEnabled() && !form.cmdPut->isEnabled());

    // Only the clock ticks until the operator arms something.
    QVERIFY(form.Timer3->running());
    for (FormTimer* t : {form.Timer4, form.Timer5, form.Timer6, form.Timer7})
        QVERIFY2(!t->running(), qPrintable(t->objectName()));
}

void TestStartup::missingFilesEndTheProgram_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QString>("missingPicture");
    QTest::addColumn<bool>("settingsRead"); // whether the boxes were filled before the failure
    const QByteArray good = ProgramFolder::kSettings;
    QTest::newRow("no ftp.txt") << QByteArray() << QString() << false;
    QTest::newRow("empty ftp.txt") << QByteArray("") << QString() << false;
    QTest::newRow("trailing empty line") << good + "\r\n" << QString() << false;
    QTest::newRow("four commas") << QByteArray("\"a\",\"b\",\"c\",\"d\",\"05\"\r\n") << QString() << false;
    QTest::newRow("no open.bmp") << good << QString("open.bmp") << true;
    QTest::newRow("no root.bmp") << good << QString("root.bmp") << true;
}

void TestStartup::missingFilesEndTheProgram()
{
    QFETCH(QByteArray, settings);
    QFETCH(QString, missingPicture);
    QFETCH(bool, settingsRead);
    ProgramFolder folder(settings);
    if (!missingPicture.isEmpty())
        folder.removeFile(missingPicture);
    FakePlatform platform;
    platform.folder = folder.path();
    FTPform formWindow(platform);
    FTPformTestAccess form(formWindow);

    QVERIFY(!formWindow.Form_Load());
    QCOMPARE(platform.messages, QStringList{kMissing});
    QCOMPARE(platform.endCalls, 1);
    QVERIFY(!formWindow.isVisible());
    QCOMPARE(form.text1->text().isEmpty(), !settingsRead);
    // Nothing after the failing step ran: no Internet handle was opened.
    QCOMPARE(form.hInternet(), 0);
}

void TestStartup::programFolderHasOneTrailingSeparator()
{
    ProgramFolder folder;
    FakePlatform platform;
    platform.folder = folder.path();
    FTPform formWindow(platform);
    FTPformTestAccess form(formWindow);
    QCOMPARE(form.myPath(), folder.path() + "/");
    // Computed once: a later answer of the platform does not change it.
    platform.folder = "/elsewhere";
    QCOMPARE(form.myPath(), folder.path() + "/");

    FakePlatform atRoot;
    atRoot.folder = "/";
    FTPform rootFormWindow(atRoot);
    FTPformTestAccess rootForm(rootFormWindow);
    QCOMPARE(rootForm.myPath(), QString("/"));
}

void TestStartup::localListsStartOnTheCurrentFolder()
{
    ProgramFolder folder; // also the current folder while it lives
    QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("cam")));
    folder.writeFile(QStringLiteral("13.jpg"), "j");
    FakePlatform platform;
    platform.folder = folder.path();
    FTPform formWindow(platform);
    FTPformTestAccess form(formWindow);
    QVERIFY(formWindow.Form_Load());

    const QString here = local::cleanFolderPath(folder.path());
    QCOMPARE(form.Dir1->path(), here);
    QCOMPARE(form.Dir1->shownFolders().last(), here + QStringLiteral("/cam"));
    QCOMPARE(form.File1->path(), here);
    QVERIFY(form.File1->fileNames().contains(QStringLiteral("13.jpg")));
    const QList<Volume> volumes = form.Drive1->volumes();
    const qsizetype holding = local::volumeHolding(volumes, here);
    QVERIFY(holding >= 0);
    QCOMPARE(form.Drive1->drive(), volumes[holding].root);
}

void TestStartup::saveThenRestart()
{
    ProgramFolder folder;
    FakePlatform platform;
    platform.folder = folder.path();
    {
        FTPform formWindow(platform);
        FTPformTestAccess form(formWindow);
        QVERIFY(formWindow.Form_Load());
        form.text1->setText("サーバー");
        form.text2->setText("u\"q");
        form.text3->setText("pass word");
        form.text4->setText("サーバー/画像");
        form.Text8->setText("07");
        form.Text6->setText("45");
        QTest::mouseClick(form.Command1, Qt::LeftButton);
    }
    // The password is in the file in clear, between quotes.
    QVERIFY(folder.readFile("ftp.txt").contains("\"pass word\""));

    FTPform againWindow(platform);
    FTPformTestAccess again(againWindow);
    QVERIFY(againWindow.Form_Load());
    QCOMPARE(again.text1->text(), QString("サーバー"));
    QCOMPARE(again.text2->text(), QString("u\"q"));
    QCOMPARE(again.text3->text(), QString("pass word"));
    QCOMPARE(again.text4->text(), QString("サーバー/画像"));
    QCOMPARE(again.Text8->text(), QString("07"));
    QCOMPARE(again.Text6->text(), QString("45"));
    QVERIFY(platform.messages.isEmpty());
}

void TestStartup::saveFailureIsReported()
{
    ProgramFolder folder;
    FakePlatform platform;
    platform.folder = folder.path();
    FTPform formWindow(platform);
    FTPformTestAccess form(formWindow);
    QVERIFY(formWindow.Form_Load());
    // The settings file's name taken by a folder: nothing can replace it.
    folder.removeFile("ftp.txt");
    QVERIFY(QDir(folder.path()).mkdir("ftp.txt"));
    form.Command1->click();
    QCOMPARE(platform.messages, QStringList{"設定を保存できませんでした"});
}

void TestStartup::endButtonEndsAtOnce()
{
    ProgramFolder folder;
    FakePlatform platform;
    platform.folder = folder.path();
    FTPform formWindow(platform);
    FTPformTestAccess form(formWindow);
    QVERIFY(formWindow.Form_Load());
    const HINTERNET handle = form.hInternet();
    QTest::mouseClick(form.Command2, Qt::LeftButton);
    QCOMPARE(platform.endCalls, 1);
    // No unload: the handle is left to the end of the process.
    QCOMPARE(form.hInternet(), handle);
    InternetCloseHandle(handle);
}

void TestStartup::closingTheWindowClosesTheHandles()
{
    ProgramFolder folder;
    FakePlatform platform;
    platform.folder = folder.path();
    FTPform formWindow(platform);
    FTPformTestAccess form(formWindow);
    QVERIFY(formWindow.Form_Load());
    const int before = openInternetHandleCount();
    formWindow.show();
    QVERIFY(formWindow.close());
    QCOMPARE(form.hInternet(), 0);
    QCOMPARE(openInternetHandleCount(), before - 1);
    QVERIFY(form.text1->text().isEmpty());
    QVERIFY(!form.cmdConnect->isEnabled());
    QCOMPARE(platform.endCalls, 0);
}

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
