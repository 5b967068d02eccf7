// The settings line: the reader's comma arithmetic (files from earlier versions depend
// on its exact results), decoding, and a writer that never loses the old file.
#include "core/app/settingsFile.h"
#include "core/base/runtimeFault.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

class TestSettingsFile : public QObject {
    Q_OBJECT
private slots:
    void roundTrip_data();
    void roundTrip();
    void oddRecords();
    void faultyLines();
    void lastLine();
    void shiftJisLine_data();
    void shiftJisLine();
    void writerReplacesAtomically();
    void writerPermissions();
    void writerFailureKeepsOldFile();
};

void TestSettingsFile::roundTrip_data()
{
    QTest::addColumn<QStringList>("fields");
    QTest::newRow("plain") << QStringList{"ftp.example.jp", "cam", "pa ss", "ftp.example.jp/pub/cam", "30", "20"};
    QTest::newRow("empty fields") << QStringList{"", "", "", "", "05", "30"};
    QTest::newRow("quote inside") << QStringList{"a\"b", "u", "p\"", "x", "00", "59"};
    QTest::newRow("japanese") << QStringList{"サーバー", "ユーザー", "パス", "サーバー/画像", "10", "00"};
}

void TestSettingsFile::roundTrip()
{
    QFETCH(QStringList, fields);
    SettingsRecord r;
    std::copy(fields.begin(), fields.end(), r.begin());
    const QString line = formatSettingsRecord(r);
    QVERIFY(line.endsWith("\r\n"));
    const SettingsRecord back = parseSettingsRecord(line.chopped(2));
    for (int i = 0; i < 6; ++i)
        QCOMPARE(back[i], r[i]);
}

void TestSettingsFile::oddRecords()
{
    QCOMPARE(formatSettingsRecord({"", "", "", "", "05", "30"}), QString("\"\",\"\",\"\",\"\",\"05\",\"30\"\r\n"));
    // A line break inside a box never splits the record.
    const QString broken = formatSettingsRecord({"ser\r\nver", "u\n", "p", "f", "05", "3\r0"});
    QCOMPARE(broken, QString("\"server\",\"u\",\"p\",\"f\",\"05\",\"30\"\r\n"));
    QCOMPARE(parseSettingsRecord(lastSettingsLine(broken.toUtf8()))[0], QString("server"));

    // A one-character second comes back with the closing quote, an empty one as a lone
    // quote, a long one cut to two characters.
    QCOMPARE(parseSettingsRecord(R"("s","u","p","f","05","5")")[5], QString("5\""));
    QCOMPARE(parseSettingsRecord(R"("s","u","p","f","05","")")[5], QString("\""));
    QCOMPARE(parseSettingsRecord(R"("s","u","p","f","05","123")")[5], QString("12"));

    // A comma in the server name: the text before it less its last character (here
    // nothing is left), and every later field shifts by one.
    const SettingsRecord shifted = parseSettingsRecord(R"("ab,c","u","p","f","05","30")");
    QCOMPARE(shifted[0], QString("a"));
    QCOMPARE(shifted[1], QString(""));
    QCOMPARE(shifted[2], QString("u"));
    QCOMPARE(shifted[3], QString("p"));
    QCOMPARE(shifted[4], QString("f"));
    QCOMPARE(shifted[5], QString("05"));
}

void TestSettingsFile::faultyLines()
{
    // Fewer than five commas, no commas, commas too close together, an empty line.
    for (const QString& line : {QString(R"("s","u","p","f","05")"), QString("garbage"),
                                QString(R"("s",,"u","p","f","05","30")"), QString()}) {
        QVERIFY_THROWS_EXCEPTION(RuntimeFault, parseSettingsRecord(line));
    }
}

void TestSettingsFile::lastLine()
{
    QCOMPARE(lastSettingsLine("first\r\nsecond\r\n"), QString("second"));
    QCOMPARE(lastSettingsLine("only"), QString("only"));
    QCOMPARE(lastSettingsLine("unix\nlines\n"), QString("lines"));
    // An extra line break after the record leaves an empty last line.
    QCOMPARE(lastSettingsLine("record\r\n\r\n"), QString());
    QCOMPARE(lastSettingsLine(""), QString());
}

void TestSettingsFile::shiftJisLine_data()
{
    // Lines as Japanese Windows writes them (code page 932, so not valid UTF-8): the
    // rule both platforms' decoders follow.
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    const QByteArray server = QByteArray::fromHex("8354815b836f"); // サーバ
    QTest::newRow("kana") << server << QString("サーバ");
    QTest::newRow("valid UTF-8 as it is") << QString("サーバ").toUtf8() << QString("サーバ");
    // 0x5C is a backslash, not a yen sign: "host\folder" stays a path.
    QTest::newRow("backslash") << server + "\\up" << QString("サーバ\\up");
    // Code page 932's own characters and mappings, which plain Shift_JIS lacks or
    // maps elsewhere.
    QTest::newRow("circled digit") << server + QByteArray::fromHex("8740") << QString("サーバ\u2460");
    QTest::newRow("wave dash") << server + QByteArray::fromHex("8160") << QString("サーバ\uFF5E");
    QTest::newRow("half-width kana") << server + QByteArray::fromHex("b1") << QString("サーバ\uFF71");
    // An undecodable byte does not cut the line short (Windows puts its own stand-in).
    QTest::newRow("bad byte") << QByteArray::fromHex("8220") + "ok" << QString("\uFFFD ok");
}

void TestSettingsFile::shiftJisLine()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(lastSettingsLine("\"" + bytes + "\",\"u\"\r\n"), "\"" + text + "\",\"u\"");
}

void TestSettingsFile::writerReplacesAtomically()
{
    QTemporaryDir dir;
    const QString file = dir.filePath("ftp.txt");
    QVERIFY(writeSettingsFile(file, {"a", "b", "c", "d", "01", "02"}));
    QVERIFY(writeSettingsFile(file, {"x", "y", "z", "w", "03", "04"}));
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("\"x\",\"y\",\"z\",\"w\",\"03\",\"04\"\r\n"));
    // No temporary file is left beside it.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"ftp.txt"});
}

void TestSettingsFile::writerPermissions()
{
    QTemporaryDir dir;
    const QString file = dir.filePath("ftp.txt");
    QVERIFY(writeSettingsFile(file, {"a", "b", "secret", "d", "01", "02"}));
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(file).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0600u);

    // An existing file keeps the permissions its owner gave it.
    QVERIFY(::chmod(QFile::encodeName(file).constData(), 0640) == 0);
    QVERIFY(writeSettingsFile(file, {"a", "b", "other", "d", "01", "02"}));
    QCOMPARE(::stat(QFile::encodeName(file).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0640u);
}

void TestSettingsFile::writerFailureKeepsOldFile()
{
    QTemporaryDir dir;
    const QString file = dir.filePath("ftp.txt");
    QVERIFY(writeSettingsFile(file, {"old", "b", "c", "d", "01", "02"}));

    // A full disk, as root sees one too: no file may grow past a few bytes.
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit tiny = saved;
    tiny.rlim_cur = 8;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &tiny), 0);
    const bool written = writeSettingsFile(file, {"a much longer server name", "b", "c", "d", "01", "02"});
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &saved), 0);
    QVERIFY(!written);
    QCOMPARE(parseSettingsRecord(readSettingsLastLine(file))[0], QString("old"));

    // A folder that does not exist cannot take the file either.
    QVERIFY(!writeSettingsFile(dir.filePath("missing/ftp.txt"), {"a", "b", "c", "d", "01", "02"}));
}

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "test_settingsfile.moc"
