// What operators type and servers send when things go wrong: boxes far longer than
// anyone types, control characters and line breaks, Japanese everywhere, and servers
// that never end a line, send one enormous listing line or answer with junk.
#include "core/ftp/ftpConnection.h"
#include "core/ftp/modWinInet.h"
#include "core/ftp/serverAddress.h"

#include "formharness.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <sys/prctl.h>

#include <csignal>
#include <cstring>
#include <memory>

using namespace wininet;

namespace {

const QString kLong = QStringLiteral("long");

// Peak resident memory of this process in kB (VmHWM).
qint64 peakMemoryKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

// tests/badserver.py in one of its modes, ended by its process id.
class BadServer {
public:
    explicit BadServer(const QString& mode)
    {
        const QString script = QFileInfo(QStringLiteral(SKYLARK_FTP_SERVER_SCRIPT)).dir().filePath("badserver.py");
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        m_process.start(QStringLiteral("/usr/bin/python3"), {script, mode});
        if (!m_process.waitForStarted(10000))
            return;
        QDeadlineTimer deadline(10000);
        while (!m_process.canReadLine() && !deadline.hasExpired() && m_process.state() == QProcess::Running)
            m_process.waitForReadyRead(100);
        bool ok = false;
        const uint port = m_process.readLine().trimmed().toUInt(&ok);
        if (ok && port > 0 && port < 65536)
            m_port = static_cast<quint16>(port);
    }
    ~BadServer()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
    quint16 port() const { return m_port; }
    QByteArray address() const { return "127.0.0.1:" + QByteArray::number(m_port); }

private:
    QProcess m_process;
    quint16 m_port = 0;
};

// Short bounds for the duration of a test, restored after.
struct ShortBounds {
    ShortBounds()
    {
        saved = ftpBounds();
        setFtpBounds({2, 2, 2});
    }
    ~ShortBounds() { setFtpBounds(saved); }
    FtpBounds saved;
};

bool anyContains(const QStringList& lines, const QString& text)
{
    for (const QString& l : lines)
        if (l.contains(text, Qt::CaseInsensitive))
            return true;
    return false;
}

int countStarting(const QStringList& lines, const QString& prefix)
{
    int n = 0;
    for (const QString& l : lines)
        n += l.startsWith(prefix) ? 1 : 0;
    return n;
}

QStringList boxTexts(FTPform& form)
{
    const FTPformTestAccess f(form);
    return {f.text1->text(), f.text2->text(), f.text3->text(), f.text4->text(), f.Text8->text(), f.Text6->text()};
}

// Every file below a folder, relative to it.
QStringList filesBelow(const QString& root)
{
    QStringList out;
    QDir dir(root);
    for (const QFileInfo& info : dir.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (info.isDir()) {
            for (const QString& inner : filesBelow(info.absoluteFilePath()))
                out << info.fileName() + "/" + inner;
        } else {
            out << info.fileName();
        }
    }
    return out;
}

} // namespace

class TestBadInput : public QObject {
    Q_OBJECT
private slots:
    void longBoxesSavedAndReloaded();
    void longBoxesInUse();
    void lineBreaksNeverReachTheServer_data();
    void lineBreaksNeverReachTheServer();
    void controlCharacters();
    void japaneseEverywhere();

    void endlessReplyLine();
    void garbageInsteadOfReplies();
    void listingWithOneHugeLine();

    void serverNameEscapes();
};

void TestBadInput::longBoxesSavedAndReloaded()
{
    FormHarness h;
    QVERIFY(h.start());
    FTPformTestAccess& f = h.f();
    // One character per box, so a field that lands in the wrong box shows.
    const QList<QLineEdit*> boxes = {f.text1, f.text2, f.text3, f.text4, f.Text8, f.Text6, f.Text5};
    const char fill[] = "spufmsx";
    for (int i = 0; i < boxes.size(); ++i)
        boxes[i]->setText(QString(100000, QLatin1Char(fill[i])));
    // The boxes hold all of it, and all of it must survive.
    const QStringList saved = boxTexts(f.form);
    for (int i = 0; i < 5; ++i)
        QCOMPARE(saved[i].size(), 100000);

    QElapsedTimer clock;
    clock.start();
    f.Command1->click();
    QVERIFY(h.platform.messages.isEmpty());

    FTPform second(h.platform);
    QVERIFY(second.Form_Load());
    QVERIFY(h.platform.messages.isEmpty());
    QCOMPARE(h.platform.endCalls, 0);
    const QStringList loaded = boxTexts(second);
    for (int i = 0; i < 5; ++i)
        QVERIFY2(
            loaded[i] == saved[i],
            qPrintable(QString("box %1: %2 chars back, %3 saved").arg(i).arg(loaded[i].size()).arg(saved[i].size())));
    // The second is read as its first two characters, as it always was.
    QCOMPARE(loaded[5], saved[5].left(2));
    QVERIFY2(clock.elapsed() < 10000, "saving and loading long boxes took too long");
}

void TestBadInput::longBoxesInUse()
{
    FormHarness h;
    h.server.makeDir("pub");
    h.folder.writeFile("10.jpg", "ten");
    h.platform.setTime(10, 29, 0);
    QVERIFY(h.start());
    FTPformTestAccess& f = h.f();
    const QString server = h.serverName();
    QElapsedTimer clock;
    clock.start();

    // A long server name is no name the resolver will look up, and nothing is sent.
    f.text1->setText(QString(100000, QLatin1Char('s')));
    f.click(f.cmdConnect);
    QVERIFY(!f.connected());
    QCOMPARE(f.hFtp(), 0);
    QCOMPARE(countStarting(h.server.commands(), "USER"), 0);

    // A long user or password is refused one way or another, never half logged in.
    for (QLineEdit* box : {f.text2, f.text3}) {
        f.text1->setText(server);
        f.text2->setText("user");
        f.text3->setText("secret");
        box->setText(QString(100000, QLatin1Char('u')));
        h.platform.messages.clear();
        f.click(f.cmdConnect);
        QVERIFY(!f.connected());
        QCOMPARE(f.hFtp(), 0);
        QVERIFY(h.server.commands().filter("STOR").isEmpty());
    }

    // Logged in properly, a long destination folder fails the folder change.
    f.text2->setText("user");
    f.text3->setText("secret");
    f.click(f.cmdConnect);
    QVERIFY(f.connected());
    f.text4->setText(server + "/" + QString(100000, QLatin1Char('d')));
    f.Text5->setText(f.myPath() + "10.jpg");
    h.platform.messages.clear();
    f.click(f.Command5);
    QVERIFY(!h.platform.messages.isEmpty());
    QVERIFY(!h.platform.messages.contains(QStringLiteral("転送しました")));
    QCOMPARE(h.server.commands().filter("STOR").size(), 0);

    // A long upper path box that still ends in the hour's name.
    f.text4->setText(server + "/pub");
    f.Text5->setText(f.myPath() + QString(100000, QLatin1Char('p')) + "/10.jpg");
    h.platform.messages.clear();
    f.click(f.Command5);
    QVERIFY(!h.platform.messages.contains(QStringLiteral("転送しました")) ||
            QFileInfo::exists(h.server.path("pub/10.jpg")));

    // Long minute and second: arming refuses, and an hour passing by the set time
    // neither connects nor uploads.
    f.click(f.cmdDisconnect);
    h.server.clearCommands();
    for (const QString& text : {QString(100000, QLatin1Char('3')), QString(100000, QLatin1Char(' '))}) {
        f.Text8->setText(text);
        f.Text6->setText(text);
        h.platform.messages.clear();
        f.Command4->click();
        QVERIFY(!h.platform.messages.isEmpty());
    }
    // Armed properly, then the boxes grow: every stage reads them on each tick.
    f.Text8->setText("30");
    f.Text6->setText("20");
    f.Command4->click();
    f.Text8->setText(QString(100000, QLatin1Char('3')));
    f.Text6->setText(QString(100000, QLatin1Char('2')));
    stepClockTo(h, 10, 30, 40);
    QCOMPARE(countStarting(h.server.commands(), "USER"), 0);
    QVERIFY(!QFileInfo::exists(h.server.path("pub/10.jpg")) || h.server.commands().filter("STOR").isEmpty());
    QVERIFY2(clock.elapsed() < 60000, "long boxes slowed the window to a crawl");
}

void TestBadInput::lineBreaksNeverReachTheServer_data()
{
    QTest::addColumn<int>("box");
    QTest::addColumn<QString>("lineBreak");
    const char* names[] = {"server", "user", "password", "folder"};
    for (int box = 0; box < 4; ++box) {
        QTest::addRow("%s CRLF", names[box]) << box << QStringLiteral("\r\n");
        QTest::addRow("%s LF", names[box]) << box << QStringLiteral("\n");
        QTest::addRow("%s CR", names[box]) << box << QStringLiteral("\r");
    }
}

void TestBadInput::lineBreaksNeverReachTheServer()
{
    QFETCH(int, box);
    QFETCH(QString, lineBreak);
    FormHarness h;
    h.server.makeDir("pub");
    h.folder.writeFile("10.jpg", "ten");
    h.platform.setTime(10, 29, 0);
    QVERIFY(h.start());
    FTPformTestAccess& f = h.f();
    const QString injected = lineBreak + QStringLiteral("MKD injected");
    QLineEdit* boxes[] = {f.text1, f.text2, f.text3, f.text4};
    boxes[box]->setText(boxes[box]->text() + injected);

    // The operator's session, a manual transfer, and an hourly cycle.
    f.click(f.cmdConnect);
    f.Text5->setText(f.myPath() + "10.jpg");
    f.click(f.Command5);
    f.click(f.cmdDisconnect);
    f.Text8->setText("30");
    f.Text6->setText("20");
    f.Command4->click();
    stepClockTo(h, 10, 30, 40);

    const QStringList commands = h.server.commands();
    QVERIFY2(!anyContains(commands, "injected"), qPrintable(commands.join(" | ")));
    QVERIFY(!QFileInfo::exists(h.server.path("injected")));
    QVERIFY(!QFileInfo::exists(h.server.path("pub/injected")));
    if (box < 3) {
        // A login with a line break in it is not attempted at all.
        QCOMPARE(countStarting(commands, "USER"), 0);
        QVERIFY(!f.connected());
    } else {
        // The session itself was fine; only the folder was refused. By hand nothing
        // is sent then; the hourly stage uploads into the current folder, as it
        // always has after a refused folder change.
        QVERIFY(countStarting(commands, "USER") >= 1);
        QVERIFY(h.platform.messages.contains(QStringLiteral("転送先が間違ってます")));
        QStringList stores = commands.filter("STOR"); // once per upload tick of that second
        stores.removeDuplicates();
        QCOMPARE(stores, QStringList{"STOR 10.jpg.part"});
        QVERIFY(QFileInfo::exists(h.server.path("10.jpg")));
    }
}

void TestBadInput::controlCharacters()
{
    FormHarness h;
    h.server.makeDir("pub");
    h.folder.writeFile("10.jpg", "ten");
    QVERIFY(h.start());
    FTPformTestAccess& f = h.f();
    // Everything below a blank but the line breaks, and DEL: the writer keeps them, the
    // reader must give them back in the right boxes.
    QString controls;
    for (char16_t c = 1; c < 0x20; ++c)
        if (c != u'\r' && c != u'\n')
            controls += QChar(c);
    controls += QChar(0x7f);
    const QStringList texts = {"s" + controls, "u" + controls, "p" + controls, "f" + controls, "\t1", "\a2"};
    QLineEdit* boxes[] = {f.text1, f.text2, f.text3, f.text4, f.Text8, f.Text6};
    for (int i = 0; i < 6; ++i)
        boxes[i]->setText(texts[i]);
    const QStringList saved = boxTexts(f.form);
    f.Command1->click();
    FTPform second(h.platform);
    QVERIFY(second.Form_Load());
    QCOMPARE(boxTexts(second), saved);

    // In use: a server name with control characters is no name; a user with them is
    // refused by the server; nothing crashes and nothing is uploaded.
    f.click(f.cmdConnect);
    QVERIFY(!f.connected());
    QCOMPARE(countStarting(h.server.commands(), "USER"), 0);
    f.text1->setText(h.serverName());
    f.click(f.cmdConnect);
    QVERIFY(!f.connected());
    f.text2->setText("user");
    f.text3->setText("secret");
    f.click(f.cmdConnect);
    QVERIFY(f.connected());
    f.text4->setText(h.serverName() + "/pub" + controls);
    f.Text5->setText(f.myPath() + "10.jpg");
    h.platform.messages.clear();
    f.click(f.Command5);
    QVERIFY(!h.platform.messages.contains(QStringLiteral("転送しました")));
    QVERIFY(!QFileInfo::exists(h.server.path("pub/10.jpg")));
}

void TestBadInput::japaneseEverywhere()
{
    FtpTestServerOptions options;
    options.user = QStringLiteral("利用者");
    options.password = QStringLiteral("合言葉");
    FormHarness h(options);
    h.server.makeDir("写真/カメラ");
    h.folder.writeFile("10.jpg", "ten o'clock");
    h.folder.writeFile("11.jpg", "eleven o'clock");
    h.platform.setTime(10, 29, 0);
    QVERIFY(h.start());
    FTPformTestAccess& f = h.f();
    const QString server = h.serverName();

    // Saved and reloaded as typed, the server box included.
    const QStringList texts = {QStringLiteral("日本のサーバ"), QStringLiteral("利用者"),
                               QStringLiteral("合言葉"),       QStringLiteral("日本のサーバ/写真/カメラ"),
                               QStringLiteral("３０"),         QStringLiteral("２０")};
    QLineEdit* boxes[] = {f.text1, f.text2, f.text3, f.text4, f.Text8, f.Text6};
    for (int i = 0; i < 6; ++i)
        boxes[i]->setText(texts[i]);
    f.Command1->click();
    QVERIFY(h.folder.readFile("ftp.txt").contains(texts[3].toUtf8()));
    {
        FTPform second(h.platform);
        QVERIFY(second.Form_Load());
        QCOMPARE(boxTexts(second), texts);
    }

    // Used: a Japanese login and a Japanese destination folder, by hand and hourly.
    f.text1->setText(server);
    f.text4->setText(server + QStringLiteral("/写真/カメラ"));
    f.click(f.cmdConnect);
    QVERIFY2(f.connected(), qPrintable(h.platform.messages.join(" | ")));
    f.Text5->setText(f.myPath() + "10.jpg");
    h.platform.messages.clear();
    f.click(f.Command5);
    QCOMPARE(h.platform.messages, QStringList{QStringLiteral("転送しました")});
    QFile landed(h.server.path(QStringLiteral("写真/カメラ/10.jpg")));
    QVERIFY(landed.open(QIODevice::ReadOnly));
    QCOMPARE(landed.readAll(), QByteArray("ten o'clock"));
    landed.close();
    QVERIFY(QFile::remove(landed.fileName()));
    f.click(f.cmdDisconnect);

    // Full-width digits are not the minute the clock shows: armed or not, no upload.
    f.Command4->click();
    stepClockTo(h, 10, 30, 40);
    QVERIFY(!QFileInfo::exists(landed.fileName()));

    f.Text8->setText("30");
    f.Text6->setText("20");
    f.Command4->click();
    stepClockTo(h, 11, 30, 40); // past 10:30 would be a day away; the 11 o'clock cycle
    QVERIFY2(QFileInfo::exists(h.server.path(QStringLiteral("写真/カメラ/11.jpg"))),
             qPrintable(filesBelow(h.server.home()).join(", ") + " / " + h.platform.messages.join(" | ")));
}

void TestBadInput::endlessReplyLine()
{
    BadServer server("endless-line");
    QVERIFY(server.port());
    ShortBounds bounds;
    const int handles = openInternetHandleCount();
    const HINTERNET hi = InternetOpenA("test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    QVERIFY(hi);
    const qint64 before = peakMemoryKb();
    QElapsedTimer clock;
    clock.start();
    const HINTERNET h = InternetConnectA(hi, server.address(), 0, "user", "secret", INTERNET_SERVICE_FTP, 0, 0);
    const std::uint32_t error = GetLastError();
    QCOMPARE(h, 0);
    QVERIFY2(error == ERROR_INTERNET_TIMEOUT || error == ERROR_INTERNET_CONNECTION_ABORTED ||
                 error == ERROR_INTERNET_INTERNAL_ERROR,
             qPrintable(QString::number(error)));
    qInfo("endless line: error %u after %lld ms, peak memory +%lld kB", error, clock.elapsed(),
          peakMemoryKb() - before);
    QVERIFY2(clock.elapsed() < 15000, qPrintable(QString("took %1 ms").arg(clock.elapsed())));
    QVERIFY2(peakMemoryKb() - before < 200 * 1024,
             qPrintable(QString("peak memory grew by %1 kB").arg(peakMemoryKb() - before)));
    // What reached the caller as the last reply is short, not the endless line.
    std::int32_t code = 0, length = 0;
    InternetGetLastResponseInfoA(&code, nullptr, &length);
    QVERIFY(length < 70 * 1024);
    InternetCloseHandle(hi);
    QCOMPARE(openInternetHandleCount(), handles);
}

void TestBadInput::garbageInsteadOfReplies()
{
    BadServer server("garbage");
    QVERIFY(server.port());
    ShortBounds bounds;
    const int handles = openInternetHandleCount();
    const HINTERNET hi = InternetOpenA("test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    QElapsedTimer clock;
    clock.start();
    for (const std::int32_t flags : {0, INTERNET_FLAG_PASSIVE}) {
        const HINTERNET h = InternetConnectA(hi, server.address(), 0, "user", "secret", INTERNET_SERVICE_FTP, flags, 0);
        const std::uint32_t error = GetLastError();
        QCOMPARE(h, 0);
        QVERIFY2(error != ERROR_SUCCESS, "a failed connect must say why");
    }
    QVERIFY2(clock.elapsed() < 20000, qPrintable(QString("took %1 ms").arg(clock.elapsed())));
    InternetCloseHandle(hi);
    QCOMPARE(openInternetHandleCount(), handles);
}

void TestBadInput::listingWithOneHugeLine()
{
    BadServer server("huge-listing");
    QVERIFY(server.port());
    ShortBounds bounds;
    const int handles = openInternetHandleCount();
    const HINTERNET hi = InternetOpenA("test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    const qint64 before = peakMemoryKb();
    QElapsedTimer clock;
    clock.start();
    const HINTERNET h =
        InternetConnectA(hi, server.address(), 0, "user", "secret", INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0);
    QVERIFY2(h, qPrintable(QString::number(GetLastError())));
    WIN32_FIND_DATA record;
    const HINTERNET find = FtpFindFirstFileA(h, "*.*", &record, 0, 0);
    const std::uint32_t error = GetLastError();
    if (find) {
        // The one entry arrives cut to fit the record, zero-terminated inside it.
        QVERIFY(std::memchr(record.cFileName, 0, sizeof record.cFileName));
        QVERIFY(std::strlen(record.cFileName) > 0);
        QVERIFY(!InternetFindNextFileA(find, &record));
        QCOMPARE(GetLastError(), ERROR_NO_MORE_FILES);
    } else {
        QVERIFY2(error != ERROR_SUCCESS, "a failed listing must say why");
    }
    qInfo("huge listing: %s (error %u) after %lld ms, peak memory +%lld kB", find ? "listed" : "failed", error,
          clock.elapsed(), peakMemoryKb() - before);
    QVERIFY2(clock.elapsed() < 20000, qPrintable(QString("took %1 ms").arg(clock.elapsed())));
    QVERIFY2(peakMemoryKb() - before < 200 * 1024,
             qPrintable(QString("peak memory grew by %1 kB").arg(peakMemoryKb() - before)));
    InternetCloseHandle(hi);
    QCOMPARE(openInternetHandleCount(), handles);
}

void TestBadInput::serverNameEscapes()
{
    // libcurl decodes escapes in a host name: "127%2e0%2e0%2e1" would be looked up as
    // another name than the one in the box.
    QVERIFY(!parseServerAddress("127%2e0%2e0%2e1", 0));
    QVERIFY(!parseServerAddress("a%25b:2121", 0));
    QVERIFY(!parseServerAddress("%e0", 21));
    // An IPv6 zone id keeps its percent sign, escaped in the URL.
    const auto zoned = parseServerAddress("[fe80::1%eth0]:2121", 0);
    QVERIFY(zoned);
    QCOMPARE(ftpServerUrl(*zoned), std::string("ftp://[fe80::1%25eth0]:2121/"));
}

QTEST_MAIN(TestBadInput)
#include "test_badinput.moc"
