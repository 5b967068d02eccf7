// The drive, folder and file lists against real folders on disk.

#include "core/base/runtimeFault.h"
#include "core/local/volumes.h"
#include "window/local/dirListBox.h"
#include "window/local/driveListBox.h"
#include "window/local/fileListBox.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidgetItemIterator>

#include <optional>

#if defined(Q_OS_UNIX)
#include <sys/stat.h>
#endif

namespace {

void touch(const QString& path)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
}

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

QTreeWidgetItem* entryNamed(DirListBox& list, const QString& text)
{
    for (QTreeWidgetItemIterator it(&list); *it; ++it)
        if ((*it)->text(0) == text)
            return *it;
    return nullptr;
}

int depth(const QTreeWidgetItem* item)
{
    int d = 0;
    for (; item->parent(); item = item->parent())
        ++d;
    return d;
}

} // namespace

class TestLocalLists : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_tmp.emplace();
        QVERIFY(m_tmp->isValid());
        m_root = QDir(m_tmp->path()).absolutePath();
    }
    void cleanup() { m_tmp.reset(); }

    void usefulVolumes_data();
    void usefulVolumes();
    void realVolumesIncludeRootAndNoKernelMounts();

    void dirShowsAncestorsThenVisibleSubFoldersSorted();
    void dirDoubleClickOpensEntry();
    void dirRefusesWhatCannotBeOpened();
    void driveWithoutMedium();
    void driveFallsBackWhenVolumeGoes();

    void fileListsOrdinaryVisibleFilesOnly();
    void filePatterns();
    void fileNameSelectsAndMoves();
    void fileListsLargeFolderQuickly();

private:
    std::optional<QTemporaryDir> m_tmp; // a fresh folder for each test
    QString m_root;
};

void TestLocalLists::usefulVolumes_data()
{
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QString>("root");
    QTest::addColumn<bool>("useful");
    QTest::newRow("system root") << QByteArray("ext4") << "/" << true;
    QTest::newRow("usb stick") << QByteArray("vfat") << "/media/u/CAMERA" << true;
    QTest::newRow("media under /run") << QByteArray("ext4") << "/run/media/u/DISK" << true;
    QTest::newRow("proc") << QByteArray("proc") << "/proc" << false;
    QTest::newRow("cgroup anywhere") << QByteArray("cgroup2") << "/mnt/cg" << false;
    QTest::newRow("tmpfs under /sys") << QByteArray("tmpfs") << "/sys/fs/cgroup" << false;
    QTest::newRow("user runtime") << QByteArray("tmpfs") << "/run/user/1000" << false;
    QTest::newRow("/system is not /sys") << QByteArray("ext4") << "/system" << true;
}

void TestLocalLists::usefulVolumes()
{
    QFETCH(QByteArray, type);
    QFETCH(QString, root);
    QFETCH(bool, useful);
    QCOMPARE(local::isUsefulVolume(type, root), useful);
}

void TestLocalLists::realVolumesIncludeRootAndNoKernelMounts()
{
    DriveListBox drives;
    QStringList roots;
    for (const Volume& v : drives.volumes())
        roots.append(v.root);
    QVERIFY(roots.contains(DriveListBox::fallbackDrive()));
    QCOMPARE(roots.count(DriveListBox::fallbackDrive()), 1);
    for (const QString& r : roots)
        QVERIFY2(!r.startsWith("/proc") && !r.startsWith("/sys/"), qPrintable(r));
    QCOMPARE(drives.count(), roots.size());
}

void TestLocalLists::dirShowsAncestorsThenVisibleSubFoldersSorted()
{
    const QString folder = m_root + "/a/b";
    for (const char* sub : {"Zeta", "alpha", "Beta", ".hidden"})
        QVERIFY(QDir().mkpath(folder + "/" + sub));
    touch(folder + "/file.txt");

    DirListBox dirs;
    QSignalSpy changed(&dirs, &DirListBox::pathChanged);
    dirs.setPath(m_root + "/a/./b/");
    QCOMPARE(changed.count(), 1);
    QCOMPARE(dirs.path(), native(folder));

    QStringList expected;
    for (QString p = folder;; p = QFileInfo(p).path()) {
        expected.prepend(native(p));
        if (QFileInfo(p).path() == p)
            break;
    }
    const int ancestors = int(expected.size());
    for (const char* sub : {"alpha", "Beta", "Zeta"})
        expected.append(native(folder + "/" + sub));
    QCOMPARE(dirs.shownFolders(), expected);

    // Ancestors one step further in each, the sub-folders one step below the folder.
    int row = 0;
    for (QTreeWidgetItemIterator it(&dirs); *it; ++it, ++row)
        QCOMPARE(depth(*it), std::min(row, ancestors));
    QCOMPARE(dirs.currentItem()->data(0, Qt::UserRole).toString(), native(folder));

    // The same folder again shows new sub-folders without claiming a change.
    QVERIFY(QDir().mkpath(folder + "/gamma"));
    dirs.setPath(folder);
    QCOMPARE(changed.count(), 1);
    QVERIFY(dirs.shownFolders().contains(native(folder + "/gamma")));

    dirs.setPath(QDir::rootPath());
    QCOMPARE(dirs.path(), native(QDir::rootPath()));
}

void TestLocalLists::dirDoubleClickOpensEntry()
{
    QVERIFY(QDir().mkpath(m_root + "/top/inner/deep"));
    DirListBox dirs;
    dirs.setPath(m_root + "/top");
    dirs.resize(300, 400);
    dirs.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dirs));
    QSignalSpy changed(&dirs, &DirListBox::pathChanged);

    auto doubleClick = [&](const QString& text) {
        QTreeWidgetItem* item = entryNamed(dirs, text);
        QVERIFY2(item, qPrintable(text));
        const QPoint at = dirs.visualItemRect(item).center();
        // What the window system delivers: a click, then the second press as a double-click.
        QTest::mouseClick(dirs.viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(dirs.viewport(), Qt::LeftButton, {}, at);
    };

    doubleClick("inner");
    QCOMPARE(changed.count(), 1);
    QCOMPARE(dirs.path(), native(m_root + "/top/inner"));
    QCOMPARE(dirs.shownFolders().last(), native(m_root + "/top/inner/deep"));

    // An ancestor goes back up.
    doubleClick("top");
    QCOMPARE(changed.count(), 2);
    QCOMPARE(dirs.path(), native(m_root + "/top"));

    // A sub-folder removed behind the list's back is refused quietly.
    QVERIFY(QDir(m_root + "/top/inner").removeRecursively());
    doubleClick("inner");
    QCOMPARE(changed.count(), 2);
    QCOMPARE(dirs.path(), native(m_root + "/top"));
}

void TestLocalLists::dirRefusesWhatCannotBeOpened()
{
    QVERIFY(QDir().mkpath(m_root + "/here/sub"));
    QVERIFY(QDir().mkpath(m_root + "/locked"));
    touch(m_root + "/plain.txt");
    DirListBox dirs;
    dirs.setPath(m_root + "/here");
    const QStringList shown = dirs.shownFolders();
    QSignalSpy changed(&dirs, &DirListBox::pathChanged);

    QStringList refused{m_root + "/missing", m_root + "/plain.txt", QString()};
    QFile::setPermissions(m_root + "/locked", QFile::WriteOwner);
    if (!QFileInfo(m_root + "/locked").isReadable()) // root reads everything
        refused.append(m_root + "/locked");
    for (const QString& path : refused) {
        QVERIFY_THROWS_EXCEPTION(RuntimeFault, dirs.setPath(path));
        QCOMPARE(dirs.path(), native(m_root + "/here"));
        QCOMPARE(dirs.shownFolders(), shown);
    }
    QCOMPARE(changed.count(), 0);
    QFile::setPermissions(m_root + "/locked", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void TestLocalLists::driveWithoutMedium()
{
    const QString cd = m_root + "/cdrom";
    QVERIFY(QDir().mkpath(cd + "/inner"));

    DriveListBox drives;
    // The source leaves out the system root; the list must add it anyway.
    drives.setVolumeSource([&] { return QList<Volume>{{cd, "CD", false}}; });
    QCOMPARE(drives.count(), 2);
    DirListBox dirs;
    dirs.setReadinessCheck([&](const QString& p) { return drives.isReady(p); });
    dirs.setPath(m_root);
    QSignalSpy driveChanged(&drives, &DriveListBox::driveChanged);
    QSignalSpy dirChanged(&dirs, &DirListBox::pathChanged);

    // A drive without a medium can be chosen; it is opening it that fails.
    drives.setDrive(cd);
    QCOMPARE(driveChanged.count(), 1);
    QCOMPARE(drives.drive(), native(cd));
    drives.setDrive(cd + "/inner"); // a path on the same volume is the same drive
    QCOMPARE(driveChanged.count(), 1);

    QVERIFY_THROWS_EXCEPTION(RuntimeFault, dirs.setPath(drives.drive()));
    QVERIFY_THROWS_EXCEPTION(RuntimeFault, dirs.setPath(cd + "/inner"));
    QCOMPARE(dirs.path(), native(m_root));
    QCOMPARE(dirChanged.count(), 0);

    drives.setDrive(DriveListBox::fallbackDrive());
    QCOMPARE(driveChanged.count(), 2);
    dirs.setPath(drives.drive());
    QCOMPARE(dirs.path(), native(QDir::rootPath()));

    // The operator picking an entry is a change just the same.
    drives.setCurrentIndex(drives.findData(native(cd)));
    QCOMPARE(driveChanged.count(), 3);
    QCOMPARE(drives.drive(), native(cd));
}

void TestLocalLists::driveFallsBackWhenVolumeGoes()
{
    QList<Volume> plugged{{m_root, "USB", true}};
    DriveListBox drives;
    drives.setVolumeSource([&] { return plugged; });
    drives.setDrive(m_root);
    QSignalSpy changed(&drives, &DriveListBox::driveChanged);

    drives.refresh();
    QCOMPARE(changed.count(), 0);
    plugged.clear();
    drives.refresh();
    QCOMPARE(changed.count(), 1);
    QCOMPARE(drives.drive(), DriveListBox::fallbackDrive());
    QCOMPARE(drives.count(), 1);
}

void TestLocalLists::fileListsOrdinaryVisibleFilesOnly()
{
    for (const char* name : {"b.TXT", "a.txt", "A.txt", "noext", ".hidden", "c.jpg"})
        touch(m_root + "/" + name);
    QVERIFY(QDir().mkpath(m_root + "/sub.d"));
    QVERIFY(QFile::link(m_root + "/sub.d", m_root + "/linkdir"));
#if defined(Q_OS_UNIX)
    QCOMPARE(::mkfifo(QFile::encodeName(m_root + "/pipe").constData(), 0600), 0);
#endif

    FileListBox files;
    QCOMPARE(files.pattern(), QString("*.*"));
    QSignalSpy changed(&files, &FileListBox::pathChanged);
    files.setPath(m_root + "/");
    QCOMPARE(changed.count(), 1);
    QCOMPARE(files.path(), native(m_root));
    const QStringList expected{"A.txt", "a.txt", "b.TXT", "c.jpg", "noext"};
    QCOMPARE(files.fileNames(), expected);
    QCOMPARE(files.fileName(), QString());

    // setPath re-reads even the same folder, and drops the selection.
    files.setFileName("c.jpg");
    touch(m_root + "/d.png");
    files.setPath(m_root);
    QCOMPARE(changed.count(), 1);
    QVERIFY(files.fileNames().contains("d.png"));
    QCOMPARE(files.fileName(), QString());

    QVERIFY_THROWS_EXCEPTION(RuntimeFault, files.setPath(m_root + "/nowhere"));
    QCOMPARE(files.path(), native(m_root));
    QCOMPARE(files.count(), 6);
}

void TestLocalLists::filePatterns()
{
    for (const char* name : {"13.jpg", "13.JPG", "note.txt", "README", "README.md"})
        touch(m_root + "/" + name);
    FileListBox files;
    files.setPath(m_root);
    QSignalSpy changed(&files, &FileListBox::patternChanged);

    files.setPattern("*.jpg");
    QCOMPARE(files.fileNames(), (QStringList{"13.JPG", "13.jpg"}));
    files.setPattern("*.txt; README");
    QCOMPARE(files.fileNames(), (QStringList{"note.txt", "README"}));
    files.setPattern("README.*");
    QCOMPARE(files.fileNames(), (QStringList{"README", "README.md"}));
    files.setPattern("*.*");
    QCOMPARE(files.count(), 5);
    QCOMPARE(changed.count(), 4);
}

void TestLocalLists::fileNameSelectsAndMoves()
{
    QVERIFY(QDir().mkpath(m_root + "/prog"));
    QVERIFY(QDir().mkpath(m_root + "/other"));
    for (const char* name : {"prog/13.jpg", "prog/.secret", "other/x.txt"})
        touch(m_root + "/" + name);
    FileListBox files;
    files.setPath(m_root + "/other");
    QSignalSpy changed(&files, &FileListBox::pathChanged);

    files.setFileName("x.txt");
    QCOMPARE(files.fileName(), QString("x.txt"));
    files.setFileName("X.TXT");
    QCOMPARE(files.fileName(), QString());

    files.setFileName(native(m_root + "/prog/13.jpg"));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(files.path(), native(m_root + "/prog"));
    QCOMPARE(files.fileName(), QString("13.jpg"));

    // A name that is not listed there moves the list all the same, selecting nothing.
    files.setFileName(m_root + "/other/14.jpg");
    QCOMPARE(changed.count(), 2);
    QCOMPARE(files.path(), native(m_root + "/other"));
    QCOMPARE(files.fileName(), QString());
    files.setFileName(m_root + "/prog/.secret");
    QCOMPARE(files.path(), native(m_root + "/prog"));
    QCOMPARE(files.fileName(), QString());

    // A folder that is not there changes nothing, not even the selection.
    files.setFileName("13.jpg");
    QVERIFY_THROWS_EXCEPTION(RuntimeFault, files.setFileName(m_root + "/gone/13.jpg"));
    QCOMPARE(files.path(), native(m_root + "/prog"));
    QCOMPARE(files.fileName(), QString("13.jpg"));
    QCOMPARE(changed.count(), 3);
}

void TestLocalLists::fileListsLargeFolderQuickly()
{
    // Enough to show a per-file cost; creating the files is most of this test's time.
    constexpr int kFiles = 10000;
    for (int i = 0; i < kFiles; ++i) {
        QFile f(m_root + QStringLiteral("/img%1.jpg").arg(i, 5, 10, QChar('0')));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }

    QElapsedTimer timer;
    timer.start();
    const qsizetype bare = QDir(m_root).entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Unsorted).size();
    const qint64 bareMs = timer.restart();

    FileListBox files;
    files.setPath(m_root);
    files.setFileName("img09999.jpg");
    const qint64 listMs = timer.elapsed();
    qDebug("%d files: QDir::entryList %lld ms, FileListBox %lld ms", kFiles, bareMs, listMs);

    QCOMPARE(bare, kFiles);
    QCOMPARE(files.count(), kFiles);
    QCOMPARE(files.fileName(), QString("img09999.jpg"));
    QVERIFY2(listMs < 10000, qPrintable(QString::number(listMs)));
}

QTEST_MAIN(TestLocalLists)
#include "test_locallists.moc"
